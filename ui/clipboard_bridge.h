#pragma once
// The object behind the preview page's clipboardData: the page may put text on the clipboard, and
// nothing else.
#include <QObject>
#include <QString>

class ClipboardBridge : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

    // clipboardData.setData(format, text): only the text formats are taken.
    Q_INVOKABLE bool setData(const QString& format, const QString& text);

  signals:
    void copied(const QString& text);
};
