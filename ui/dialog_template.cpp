#include "ui/dialog_template.h"

#include <QAbstractButton>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>

namespace {

const char* const kTemplateFamily = "宋体";

void InstallSubstitutions() {
    static const bool installed = [] {
        const QStringList families = QFontDatabase::families();
        if (!families.contains(kTemplateFamily) && !families.contains("SimSun")) {
            QFont::insertSubstitutions(kTemplateFamily, {"Noto Sans CJK SC", "Noto Sans CJK TC"});
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

void PrepareTemplateWindow(QWidget* window) {
    window->setFont(DialogFont());
    const int lineHeight = QFontMetrics(window->font()).height();
    for (QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (auto* frame = qobject_cast<QGroupBox*>(child)) {
            frame->lower();
            continue;
        }
        const bool row = qobject_cast<QLabel*>(child) || qobject_cast<QAbstractButton*>(child);
        if (row && child->height() < lineHeight) child->resize(child->width(), lineHeight);
    }
}
