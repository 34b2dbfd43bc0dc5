#include "ui/dialog_template.h"

#include <QAbstractButton>
#include <QDialog>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace {

// The monospaced Noto face keeps Latin letters half as wide as a CJK glyph, as 宋体 does, so the
// captions fit the template's widths.
const char* const kTemplateFamily = "宋体";

void InstallSubstitutions() {
    static const bool installed = [] {
        const QStringList families = QFontDatabase::families();
        if (!families.contains(kTemplateFamily) && !families.contains("SimSun")) {
            QFont::insertSubstitutions(kTemplateFamily, {"Noto Sans Mono CJK SC", "Noto Sans CJK SC"});
        } else if (!families.contains(kTemplateFamily)) {
            QFont::insertSubstitution(kTemplateFamily, "SimSun");
        }
        return true;
    }();
    (void)installed;
}

}  // namespace

QFont DialogFont() {
    InstallSubstitutions();
    QFont font(kTemplateFamily);
    font.setPointSize(9);
    return font;
}

namespace {

// The room to the right of a control: up to the nearest control beside it on the same rows.
int RoomToTheRight(QWidget* control, const QList<QWidget*>& siblings) {
    const QRect r = control->geometry();
    int limit = control->parentWidget()->width();
    for (QWidget* other : siblings) {
        const QRect o = other->geometry();
        if (other == control || qobject_cast<QGroupBox*>(other)) continue;
        if (o.left() > r.left() && o.top() < r.bottom() && o.bottom() > r.top())
            limit = std::min(limit, o.left());
    }
    return limit - r.left();
}

}  // namespace

void PrepareTemplateWindow(QWidget* window) {
    window->setFont(DialogFont());
    const int lineHeight = QFontMetrics(window->font()).height();
    const QList<QWidget*> children = window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        if (auto* frame = qobject_cast<QGroupBox*>(child)) {
            frame->lower();
            continue;
        }
        const bool row = qobject_cast<QLabel*>(child) || qobject_cast<QAbstractButton*>(child);
        if (row && child->height() < lineHeight) child->resize(child->width(), lineHeight);
        // Check boxes and radios whose caption the wider glyphs would clip take the free room beside them.
        const bool captioned = qobject_cast<QAbstractButton*>(child) && !qobject_cast<QPushButton*>(child);
        if (captioned && child->sizeHint().width() > child->width()) {
            const int room = RoomToTheRight(child, children);
            child->resize(std::max(child->width(), std::min(child->sizeHint().width(), room)),
                          child->height());
        }
    }
}

namespace {

// Qt's own placement takes a title bar's height off the centre, and on X11 a window's move places the
// client the first time it is shown and the frame after that: dialogs opened 20 px above the centre, and
// a dialog kept for reuse 20 px lower from its second opening on. This places the client area itself.
class CentreOnShow : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && !event->spontaneous())
            CentreOnParent(static_cast<QWidget*>(watched));
        return false;
    }
};

}  // namespace

void CentreOnParent(QWidget* window) {
    QWidget* owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    QScreen* screen = owner ? owner->screen() : window->screen();
    if (!screen) return;
    const QRect desk = screen->availableGeometry();
    QRect placed(QPoint(0, 0), window->size());
    placed.moveCenter(owner && owner->isVisible() ? owner->geometry().center() : desk.center());
    // The title bar stays on the screen, where it can be grabbed.
    const int titleBar = window->geometry().top() - window->frameGeometry().top();
    placed.moveLeft(std::max(desk.left(), std::min(placed.left(), desk.right() + 1 - placed.width())));
    placed.moveTop(
        std::max(desk.top() + titleBar, std::min(placed.top(), desk.bottom() + 1 - placed.height())));
    window->setGeometry(placed);
}

void PrepareFixedDialog(QDialog* dialog) {
    dialog->setFixedSize(dialog->size());
    dialog->installEventFilter(new CentreOnShow(dialog));
}
