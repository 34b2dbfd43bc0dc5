#pragma once
// The object behind the preview pane's double click: its script may put text on the clipboard, and
// nothing else.
#include <QObject>
#include <QString>

class ClipboardBridge : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

    // Puts the text on the clipboard, as clipboardData.setData does: only the text formats are taken.
    Q_INVOKABLE bool setData(const QString& format, const QString& text);

  signals:
    void copied(const QString& text);
};
