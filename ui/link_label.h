#pragma once
// A label that behaves as a link: underlined, coloured by state, a hand cursor and a tool tip with the
// target; a click opens a new mail to the target through xdg-open, falling back to the desktop's
// handler of HTML files, and reports a failure with a beep and a message box.
#include <QColor>
#include <QLabel>
#include <QString>
#include <functional>

class CLinkLabel : public QLabel {
    Q_OBJECT
  public:
    explicit CLinkLabel(QWidget* parent = nullptr);

    // Set-up once the label has its text and place in the dialog.
    void PreSubclassWindow();

    // Opens "mailto:" and the target with xdg-open without waiting for it; when xdg-open is missing or
    // fails, runs the handler of text/html with the target. `done` gets above 32 on success, else the
    // failure's code of OpenWithHtmlHandler; it is dropped when `context` goes first.
    static void OpenLink(const QString& target, QObject* context, std::function<void(int result)> done);
    // Runs the handler of text/html with the target. Above 32 on success, else the failure's code:
    // 31 no handler, 2 program missing, 5 not executable, 0 anything else.
    static int OpenWithHtmlHandler(const QString& target);
    // The message of a failed opening: the fixed prefix and the text of the code.
    static QString OpenErrorText(int code);

    QColor linkColour{0, 0, 238};
    QColor visitedColour{85, 26, 139};
    QColor hoverColour;
    bool overControl = false;
    bool visited = false;
    bool underline = true;
    bool adjustToFit = true;
    QString url;

  signals:
    // A failed opening, after the beep and before its message box.
    void openFailed(int code);

  protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void FitToText();
    void Opened(int result);
    void MarkVisited();
    void ShowOpenError(int code);
    void ApplyColour();

    bool pressed_ = false;
};
