#include "ui/link_label.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

#include "ui/message_box.h"
#include "ui/shell_open.h"

namespace {

constexpr int kOpened = 33;
constexpr int kNoHandler = 31;
constexpr int kProgramMissing = 2;
constexpr int kNotExecutable = 5;

// The entry named for text/html by the first mimeapps.list that names one, in the order of the
// desktop's lookup; xdg-utils leaves out entries whose program is missing, this does not.
QString HtmlHandlerFromMimeApps() {
    QStringList lists;
    auto add = [&lists](const QString& dirs, const QString& fallback, const char* below) {
        for (const QString& dir : (dirs.isEmpty() ? fallback : dirs).split(':', Qt::SkipEmptyParts)) {
            lists.append(dir + below + QStringLiteral("/mimeapps.list"));
        }
    };
    add(qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath() + "/.config", "");
    add(qEnvironmentVariable("XDG_CONFIG_DIRS"), QStringLiteral("/etc/xdg"), "");
    add(qEnvironmentVariable("XDG_DATA_HOME"), QDir::homePath() + "/.local/share", "/applications");
    add(qEnvironmentVariable("XDG_DATA_DIRS"), QStringLiteral("/usr/local/share:/usr/share"),
        "/applications");
    for (const QString& list : lists) {
        QFile file(list);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) continue;
        bool inDefaults = false;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (line.startsWith('[')) {
                inDefaults = line == QLatin1String("[Default Applications]");
            } else if (inDefaults && line.startsWith(QLatin1String("text/html="))) {
                const QString id = line.mid(10).section(';', 0, 0).trimmed();
                if (!id.isEmpty()) return id;
            }
        }
    }
    return QString();
}

// The desktop entry that handles text/html, as xdg-utils knows it; empty when there is none.
QString HtmlHandlerEntry() {
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/html")});
    QString id;
    if (query.waitForFinished() && query.exitStatus() == QProcess::NormalExit && query.exitCode() == 0) {
        id = QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
    }
    if (id.isEmpty()) id = HtmlHandlerFromMimeApps();
    if (id.isEmpty()) return QString();
    const QString found =
        QStandardPaths::locate(QStandardPaths::ApplicationsLocation, id, QStandardPaths::LocateFile);
    if (!found.isEmpty()) return found;
    // Entries in sub-folders are named with "-" for "/".
    return QStandardPaths::locate(QStandardPaths::ApplicationsLocation, QString(id).replace('-', '/'));
}

// The Exec line of the entry's [Desktop Entry] group.
QString ExecLine(const QString& entryPath) {
    QFile file(entryPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return QString();
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith('[')) {
            inEntry = line == QLatin1String("[Desktop Entry]");
        } else if (inEntry && line.startsWith(QLatin1String("Exec")) &&
                   line.mid(4).trimmed().startsWith('=')) {
            return line.mid(line.indexOf('=') + 1).trimmed();
        }
    }
    return QString();
}

}  // namespace

CLinkLabel::CLinkLabel(QWidget* parent) : QLabel(parent) {
    hoverColour = QApplication::palette().color(QPalette::Highlight);
}

void CLinkLabel::PreSubclassWindow() {
    if (url.isEmpty()) url = text();
    if (text().isEmpty()) setText(url);
    setTextFormat(Qt::PlainText);
    QFont linkFont = font();
    linkFont.setUnderline(underline);
    setFont(linkFont);
    FitToText();
    setCursor(Qt::PointingHandCursor);
    setToolTip(url);
    ApplyColour();
}

void CLinkLabel::FitToText() {
    if (!adjustToFit) return;
    QRect r = geometry();
    const QSize text = fontMetrics().size(Qt::TextSingleLine, this->text());
    const Qt::Alignment align = alignment();
    if (align & Qt::AlignVCenter) {
        r.setTop(r.top() + (r.height() - text.height()) / 2);
        r.setHeight(text.height());
    } else {
        r.setHeight(text.height());
    }
    if (align & Qt::AlignHCenter) {
        const int inset = (r.width() - text.width()) / 2;
        r.setLeft(r.left() + inset);
        r.setWidth(text.width());
    } else if (align & Qt::AlignRight) {
        r.setLeft(r.right() + 1 - text.width());
    } else {
        r.setWidth(text.width());
    }
    setGeometry(r);
}

void CLinkLabel::ApplyColour() {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, overControl ? hoverColour : visited ? visitedColour : linkColour);
    setPalette(p);
    setAutoFillBackground(false);
}

void CLinkLabel::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    overControl = true;
    ApplyColour();
}

void CLinkLabel::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    overControl = false;
    ApplyColour();
}

void CLinkLabel::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

void CLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    const bool click =
        pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    event->accept();
    if (!click) return;
    OpenLink(url, this, [this](int result) { Opened(result); });
}

void CLinkLabel::Opened(int result) {
    visited = result > 32;
    if (visited) {
        MarkVisited();
    } else {
        ApplyColour();
        QApplication::beep();
        ShowOpenError(result);
    }
}

void CLinkLabel::MarkVisited() {
    visited = true;
    ApplyColour();
    update();
}

void CLinkLabel::OpenLink(const QString& target, QObject* context, std::function<void(int result)> done) {
    // The desktop's own opener says "opened" once xdg-open has started; its exit status tells.
    ShellOpenUrlReported(QUrl(QStringLiteral("mailto:") + target), context,
                         [target, done = std::move(done)](int status) {
                             done(status == 0 ? kOpened : OpenWithHtmlHandler(target));
                         });
}

int CLinkLabel::OpenWithHtmlHandler(const QString& target) {
    const QString entry = HtmlHandlerEntry();
    QString command = entry.isEmpty() ? QString() : ExecLine(entry);
    if (command.isEmpty()) return kNoHandler;
    // The command line is cut at its first field code, quoted or not.
    qsizetype cut = command.indexOf(QLatin1String("\"%"));
    if (cut < 0) cut = command.indexOf('%');
    if (cut >= 0) command.truncate(cut);
    QStringList words = QProcess::splitCommand(command);
    if (words.isEmpty()) return kNoHandler;
    words.append(target);
    const QString program = words.takeFirst();
    QString path = program.contains('/') ? program : QStandardPaths::findExecutable(program);
    if (path.isEmpty()) {
        // Not on the path: tell a file that exists but cannot run from one that is missing.
        for (const QString& dir : qEnvironmentVariable("PATH").split(':', Qt::SkipEmptyParts)) {
            if (QFileInfo::exists(QDir(dir).filePath(program))) return kNotExecutable;
        }
        return kProgramMissing;
    }
    const QFileInfo info(path);
    if (!info.exists()) return kProgramMissing;
    if (!info.isFile() || !info.isExecutable()) return kNotExecutable;
    return QProcess::startDetached(path, words) ? kOpened : 0;
}

QString CLinkLabel::OpenErrorText(int code) {
    QString text;
    switch (code) {
        case 0:
            text = "The operating system is out\nof memory or resources.";
            break;
        case 2:
            text = "The specified file was not found.";
            break;
        case 3:
            text = "The specified path was not found.";
            break;
        case 5:
            text = "The operating system denied\naccess to the specified file.";
            break;
        case 8:
            text = "There was not enough memory to complete the operation.";
            break;
        case 11:
            text = "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
            break;
        case 26:
            text = "A sharing violation occurred. ";
            break;
        case 27:
            text = "The filename association is\nincomplete or invalid.";
            break;
        case 28:
            text = "The DDE transaction could not\nbe completed because the request timed out.";
            break;
        case 29:
            text = "The DDE transaction failed.";
            break;
        case 30:
            text =
                "The DDE transaction could not\nbe completed because other DDE transactions\nwere being "
                "processed.";
            break;
        case 31:
            text = "There is no application associated\nwith the given filename extension.";
            break;
        case 32:
            text = "The specified dynamic-link library was not found.";
            break;
        default:
            text = QStringLiteral("Unknown Error (%1) occurred.").arg(code);
            break;
    }
    return QStringLiteral("Unable to open hyperlink:\n\n") + text;
}

void CLinkLabel::ShowOpenError(int code) {
    emit openFailed(code);
    ShowMessage(window(), OpenErrorText(code), QString(), QMessageBox::Warning);
}
