#include "wizard/server_messages.h"

#include <QApplication>
#include <QMessageBox>

namespace quillnet {

std::function<void(const std::string& text, const std::string& caption)> MessageBoxErrorHandler() {
  return [](const std::string& text, const std::string& caption) {
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr) return;
    const QString boxText = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    const QString boxCaption =
        QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size()));
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
