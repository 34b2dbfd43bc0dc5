#pragma once
// The modal window that shows a running job's progress and lets the user interrupt it, with 中断 or the
// window's close box.
#include <QDialog>
#include <QPoint>
#include <atomic>
#include <functional>
#include <memory>

#include "jobs/job_progress.h"

namespace Ui {
class CProgressDlg;
}

class CProgressDlg : public QDialog, public JobProgress {
    Q_OBJECT
  public:
    explicit CProgressDlg(QWidget* parent = nullptr);
    ~CProgressDlg() override;

    // Runs the window modally. `startWorker` is called once the modal loop runs and returns false when
    // the worker could not be started; the window then reports it and closes. Returns false in that case.
    bool DoModal(const std::function<bool()>& startWorker);
    // The worker of the current run has ended: closes the window if its job did not.
    void JobEnded();
    // A serial number of the modal runs, so that a late end of an earlier worker is told apart.
    int RunSerial() const { return runSerial_; }

    void SetCaption(const std::string& text) override;
    void SetRange(int lower, int upper) override;
    void SetPos(int position) override;
    void Close() override;

    // The controls, for tests and the worker's reports.
    QString StatusText() const;
    int Minimum() const;
    int Maximum() const;
    int Position() const;

  public slots:
    void done(int result) override;

  protected:
    void ShowText(const std::string& text) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    // Runs a report on the window thread while the window is up; nothing once it has closed.
    void Report(const std::function<void()>& work);
    void EndModal();

    std::unique_ptr<Ui::CProgressDlg> ui_;
    std::atomic<bool> open_{false};
    bool closeAllowed_ = true;
    int runSerial_ = 0;
    bool dragging_ = false;
    QPoint dragOffset_;
};
