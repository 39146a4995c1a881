// A generic Qt plugin standing for any code a user can make a Qt program load (QT_PLUGIN_PATH
// and QT_QPA_GENERIC_PLUGINS): it writes the "CapEff:" line of the loading process's
// /proc/self/status into the file named after its key ("capsreport:FILE").
#include <QFile>
#include <QGenericPlugin>

class CapsReportPlugin : public QGenericPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "caps_report_plugin.json")

 public:
  QObject* create(const QString&, const QString& file) override {
    QFile status(QStringLiteral("/proc/self/status"));
    QFile report(file);
    if (!status.open(QIODevice::ReadOnly) || !report.open(QIODevice::WriteOnly)) return nullptr;
    for (const QByteArray& line : status.readAll().split('\n')) {
      if (line.startsWith("CapEff:")) report.write(line + '\n');
    }
    return nullptr;
  }
};

#include "caps_report_plugin.moc"
