#include "wizard/qt/server_messages.h"

#include <QApplication>
#include <QMessageBox>

#include "wizard/qt/dialog_template.h"

namespace quillnet {

std::function<void(const std::string& text, const std::string& caption)> MessageBoxErrorHandler() {
  return [](const std::string& text, const std::string& caption) {
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr) return;
    const QString boxText = Latin1(text);
    const QString boxCaption = Latin1(caption);
    // Widgets live on the UI thread only; the worker queues the box there.
    QMetaObject::invokeMethod(
        application,
        [boxText, boxCaption] {
          auto* box = new QMessageBox(QMessageBox::Warning, boxCaption, boxText, QMessageBox::Ok,
                                      QApplication::activeWindow());
          box->setObjectName(QStringLiteral("serverMessageBox"));
          box->setAttribute(Qt::WA_DeleteOnClose);
          box->setWindowModality(Qt::ApplicationModal);
          box->show();
        },
        Qt::QueuedConnection);
  };
}

}  // namespace quillnet
