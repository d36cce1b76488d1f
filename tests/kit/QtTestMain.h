// Several Qt Test classes in one program. Each test file names its class with DISKVIGIL_QTEST_MAIN
// (or the GUILESS or APPLESS form) where a lone program would have QTEST_MAIN, and the program runs
// the class its first argument names, set up as Qt's own main would set it up:
//   AppTest MainFormTest [Qt Test options and test functions]
// One program per folder is one link and one set of shared headers rather than one per file.
#pragma once

#include <QtTest>

namespace dv::testing {

using QtTestRunner = int (*)(int argc, char* argv[]);

// Files the runner under `name`; the result only lets a file-scope constant make the call.
bool ListQtTest(const char* name, QtTestRunner runner);

}  // namespace dv::testing

#define DISKVIGIL_QTEST_RUNNER(TestObject, ...)                        \
  static int Run##TestObject(int argc, char* argv[]) {                 \
    QT_PREPEND_NAMESPACE(QTest::Internal::callInitMain)<TestObject>(); \
    __VA_ARGS__                                                        \
    TestObject tc;                                                     \
    QTEST_SET_MAIN_SOURCE_PATH                                         \
    return QTest::qExec(&tc, argc, argv);                              \
  }                                                                    \
  [[maybe_unused]] static const bool TestObject##Listed =              \
      dv::testing::ListQtTest(#TestObject, &Run##TestObject);

#define DISKVIGIL_QTEST_MAIN(TestObject) DISKVIGIL_QTEST_RUNNER(TestObject, QTEST_MAIN_SETUP())
#define DISKVIGIL_QTEST_GUILESS_MAIN(TestObject) \
  DISKVIGIL_QTEST_RUNNER(TestObject, QTEST_QAPP_SETUP(QCoreApplication))
#define DISKVIGIL_QTEST_APPLESS_MAIN(TestObject) DISKVIGIL_QTEST_RUNNER(TestObject)
