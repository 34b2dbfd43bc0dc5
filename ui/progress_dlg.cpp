#include "ui/progress_dlg.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QWindow>

#include "ui/dialog_template.h"
#include "ui/gbk_text.h"
#include "ui/message_box.h"
#include "ui/window_thread.h"
#include "ui_progress_dlg.h"

CProgressDlg::CProgressDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CProgressDlg>()) {
    ui_->setupUi(this);
    PrepareTemplateWindow(this);
    // No minimise or maximise: the window is modal and of fixed size. The close box stays, as window
    // managers draw one anyway; it interrupts the job as 中断 does.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    PrepareFixedDialog(this);
    connect(ui_->interruptButton, &QPushButton::clicked, this, [this] { interruptRequested = true; });
}

CProgressDlg::~CProgressDlg() = default;

bool CProgressDlg::DoModal(const std::function<bool()>& startWorker) {
    ++runSerial_;
    setWindowTitle(QString());
    ui_->statusLine->setText(QStringLiteral("运行"));
    ui_->progressBar->setRange(0, 100);
    ui_->progressBar->setValue(0);
    bool started = true;
    closeAllowed_ = false;
    open_ = true;
    // Started from inside the modal loop, so that no report of the worker can come before the window.
    QTimer::singleShot(0, this, [this, &startWorker, &started] {
        if (startWorker()) return;
        started = false;
        ShowMessage(this, QStringLiteral("无法启动工作线程。"), QStringLiteral("界面线程错误"),
                    QMessageBox::Critical);
        EndModal();
    });
    exec();
    open_ = false;
    closeAllowed_ = true;
    return started;
}

void CProgressDlg::JobEnded() {
    if (isVisible()) EndModal();
}

void CProgressDlg::EndModal() {
    // Reports after this find no window and no longer wait for the window thread.
    open_ = false;
    closeAllowed_ = true;
    QDialog::done(QDialog::Rejected);
}

void CProgressDlg::done(int result) {
    // Esc and Enter do nothing while the job runs.
    if (closeAllowed_) QDialog::done(result);
}

void CProgressDlg::closeEvent(QCloseEvent* event) {
    if (!closeAllowed_) {
        // The job ends the window once it has stopped, as after 中断.
        interruptRequested = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CProgressDlg::Report(const std::function<void()>& work) {
    if (!open_) return;
    RunOnWindowThread(this, [this, &work] {
        if (isVisible()) work();
    });
}

void CProgressDlg::SetCaption(const std::string& text) {
    Report([&] { setWindowTitle(FromGbk(text)); });
}

void CProgressDlg::ShowText(const std::string& text) {
    Report([&] { ui_->statusLine->setText(FromGbk(text)); });
}

void CProgressDlg::SetRange(int lower, int upper) {
    Report([&] {
        // An empty range would turn the bar into a busy indicator; it stays empty instead.
        if (upper <= lower) upper = lower + 1;
        ui_->progressBar->setRange(lower, upper);
        ui_->progressBar->setValue(lower);
    });
}

void CProgressDlg::SetPos(int position) {
    Report([&] {
        QProgressBar* bar = ui_->progressBar;
        bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
    });
}

void CProgressDlg::Close() {
    Report([this] { EndModal(); });
}

QString CProgressDlg::StatusText() const {
    return ui_->statusLine->text();
}
int CProgressDlg::Minimum() const {
    return ui_->progressBar->minimum();
}
int CProgressDlg::Maximum() const {
    return ui_->progressBar->maximum();
}
int CProgressDlg::Position() const {
    return ui_->progressBar->value();
}

void CProgressDlg::mousePressEvent(QMouseEvent* event) {
    // The window is dragged from any point of it; by hand where no window manager does it.
    if (event->button() == Qt::LeftButton) {
        QWindow* window = windowHandle();
        if (!window || !window->startSystemMove()) {
            dragging_ = true;
            dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
        }
    }
    QDialog::mousePressEvent(event);
}

void CProgressDlg::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_ && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - dragOffset_);
    QDialog::mouseMoveEvent(event);
}

void CProgressDlg::mouseReleaseEvent(QMouseEvent* event) {
    dragging_ = false;
    QDialog::mouseReleaseEvent(event);
}
