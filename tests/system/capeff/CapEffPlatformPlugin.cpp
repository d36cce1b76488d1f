// The probe as a Qt platform plug-in: the metadata is all Qt reads before it loads the library
// for a platform of that name, and the probe reports (and ends the process) as it is loaded.
#include <QObject>
#include <QtPlugin>

class CapEffPlatformPlugin : public QObject {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QPA.QPlatformIntegrationFactoryInterface.5.3" FILE
                        "CapEffPlatformPlugin.json")
};

#include "CapEffPlatformPlugin.moc"
