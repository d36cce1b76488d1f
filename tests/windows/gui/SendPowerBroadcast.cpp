// Sends WM_POWERBROADCAST to every top-level window, as the system does around a suspend, so the
// window program's suspend and resume can be driven under Wine. usage: send-power-broadcast
// suspend|resume. Exit status 0 once the message went to every window, 2 on bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 2 || (std::strcmp(argv[1], "suspend") != 0 && std::strcmp(argv[1], "resume") != 0)) {
    std::fputs("usage: send-power-broadcast suspend|resume\n", stderr);
    return 2;
  }
  const WPARAM event =
      std::strcmp(argv[1], "suspend") == 0 ? PBT_APMSUSPEND : PBT_APMRESUMEAUTOMATIC;
  DWORD_PTR answer = 0;
  const LRESULT sent = SendMessageTimeoutW(HWND_BROADCAST, WM_POWERBROADCAST, event, 0,
                                           SMTO_ABORTIFHUNG, 5000, &answer);
  if (sent == 0) {
    std::fprintf(stderr, "send-power-broadcast: not delivered (error %lu)\n", GetLastError());
    return 1;
  }
  return 0;
}
