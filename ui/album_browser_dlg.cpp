#include "ui/album_browser_dlg.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QUrl>

#include "archive/ledger.h"
#include "jobs/update_albums.h"
#include "jobs/verify_backup.h"
#include "output/gallery.h"
#include "output/link_format.h"
#include "output/preview_page.h"
#include "output/report_writer.h"
#include "platform/file_util.h"
#include "ui/about_dlg.h"
#include "ui/add_user_dlg.h"
#include "ui/app_resources.h"
#include "ui/clip_text_dlg.h"
#include "ui/clipboard.h"
#include "ui/dialog_template.h"
#include "ui/gbk_text.h"
#include "ui/message_box.h"
#include "ui/my_thread.h"
#include "ui/shell_open.h"
#include "ui/web_browser2.h"
#include "ui/window_anchors.h"
#include "ui/window_thread.h"
#include "ui_album_browser_dlg.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

constexpr int kMinRowHeight = 16;
// The smallest window that keeps every control usable: it fits a 1024x600 screen with a title bar
// and a panel.
constexpr int kMinHeight = 540;
constexpr unsigned kAboutCommand = 16;
const char* const kAboutItem = "关于 Zorbi相册浏览器(&A)...";
// Where a user's row keeps the line that tells its last backup.
constexpr int kBackupLineRole = Qt::UserRole + 1;

// The outcome of an update as the ledger records it, for people.
QString OutcomeWords(const std::string& outcome) {
    if (outcome == "pictures failed") return QStringLiteral("部分图片失败");
    if (outcome == "interrupted") return QStringLiteral("已中断");
    return QStringLiteral("失败");
}

}  // namespace

CAlbumBrowserDlg::CAlbumBrowserDlg(AlbumCatalogue& catalogue, const std::string& startupDirectory,
                                   ZorbiService service, QWidget* parent)
    : QDialog(parent),
      outputTemplate(FormatTemplates()[PreviewFormatIndex]),
      catalogue_(catalogue),
      service_(std::move(service)),
      settingsDlg_(startupDirectory),
      reader_(catalogue, service_.pictureHost()),
      ui_(std::make_unique<Ui::CAlbumBrowserDlg>()) {
    InitUiResources();
    ui_->setupUi(this);
    PrepareTemplateWindow(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(AppIcon());
    AnchorControls();
    // Tab leaves the lists; the arrow keys move inside them.
    ui_->userList->setTabKeyNavigation(false);
    ui_->albumList->setTabKeyNavigation(false);
    // The owned dialogs open over the main window.
    settingsDlg_.setParent(this, settingsDlg_.windowFlags());
    progressDlg_.setParent(this, progressDlg_.windowFlags());

    sizeRadios_[0] = ui_->sizeRadio0;
    sizeRadios_[1] = ui_->sizeRadio1;
    sizeRadios_[2] = ui_->sizeRadio2;
    sizeRadios_[3] = ui_->sizeRadio3;
    formatRadios_[0] = ui_->formatRadio0;
    formatRadios_[1] = ui_->formatRadio1;
    formatRadios_[2] = ui_->formatRadio2;
    formatRadios_[3] = ui_->formatRadio3;
    formatRadios_[4] = ui_->formatRadio4;

    for (QAbstractButton* radio : sizeRadios_)
        connect(radio, &QAbstractButton::clicked, this, &CAlbumBrowserDlg::OnChooseSize);
    connect(ui_->refreshButton, &QPushButton::clicked, this, &CAlbumBrowserDlg::OnChooseSize);
    connect(ui_->templateEdit, &QLineEdit::returnPressed, this, &CAlbumBrowserDlg::OnChooseSize);
    for (int f = 0; f < BuiltInFormatCount; ++f) {
        connect(formatRadios_[f], &QAbstractButton::clicked, this, &CAlbumBrowserDlg::OnChooseFormat);
    }
    connect(ui_->formatRadio4, &QAbstractButton::clicked, this, &CAlbumBrowserDlg::OnChooseCustomFormat);
    connect(ui_->importLocalButton, &QPushButton::clicked, this, &CAlbumBrowserDlg::OnImportLocal);
    connect(ui_->userList, &QListWidget::itemDoubleClicked, this, &CAlbumBrowserDlg::OnImportLocal);
    // A right click on a user offers the jobs on its backup as a whole.
    ui_->userList->setContextMenuPolicy(Qt::ActionsContextMenu);
    QAction* verify = new QAction(QStringLiteral("校验备份"), ui_->userList);
    verify->setObjectName("verifyAction");
    connect(verify, &QAction::triggered, this, &CAlbumBrowserDlg::OnVerifyBackup);
    ui_->userList->addAction(verify);
    QAction* gallery = new QAction(QStringLiteral("打开相册画廊"), ui_->userList);
    gallery->setObjectName("galleryAction");
    connect(gallery, &QAction::triggered, this, &CAlbumBrowserDlg::OnOpenGallery);
    ui_->userList->addAction(gallery);
    connect(ui_->userList, &QListWidget::itemSelectionChanged, this, &CAlbumBrowserDlg::ShowSelectedBackup);
    connect(ui_->updateButton, &QPushButton::clicked, this, &CAlbumBrowserDlg::OnUpdateFromNetwork);
    connect(ui_->viewLocalButton, &QPushButton::clicked, this, &CAlbumBrowserDlg::OnViewLocal);
    connect(ui_->albumList, &QTableWidget::itemSelectionChanged, this,
            &CAlbumBrowserDlg::OnAlbumSelectionChanged);
    connect(ui_->albumList, &QTableWidget::cellDoubleClicked, this, &CAlbumBrowserDlg::OnOpenAlbumPage);
    connect(ui_->addUserButton, &QPushButton::clicked, this, &CAlbumBrowserDlg::OnAddUser);
    connect(ui_->deleteUserButton, &QPushButton::clicked, this, &CAlbumBrowserDlg::OnDeleteUser);
    connect(ui_->settingsButton, &QPushButton::clicked, this, &CAlbumBrowserDlg::OnSettings);
    connect(ui_->clipboardButton, &QPushButton::clicked, this, &CAlbumBrowserDlg::OnShowClipboardText);
    connect(ui_->openPageButton, &QPushButton::clicked, this, &CAlbumBrowserDlg::OnOpenPreviewPage);
    connect(ui_->helpButton, &QPushButton::clicked, this, &CAlbumBrowserDlg::OnHelp);
    connect(ui_->aboutButton, &QPushButton::clicked, this, &CAlbumBrowserDlg::OnAbout);
    connect(ui_->exitButton, &QPushButton::clicked, this, &CAlbumBrowserDlg::OnExit);

    // The About item of the system menu lives in the window's context menu here.
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &CAlbumBrowserDlg::ShowContextMenu);
}

void CAlbumBrowserDlg::AnchorControls() {
    using E = WindowAnchors::Edge;
    auto* anchors = new WindowAnchors(this);
    // The preview takes the extra room, the album list the extra height; the template box widens.
    anchors->Add(ui_->albumFrame, E::GrowTall);
    anchors->Add(ui_->albumList, E::GrowTall);
    anchors->Add(ui_->pictureFrame, E::GrowWide | E::GrowTall);
    anchors->Add(ui_->browser, E::GrowWide | E::GrowTall);
    anchors->Add(ui_->templateEdit, E::GrowWide);
    anchors->Add(ui_->refreshButton, E::MoveRight);
    anchors->Add(ui_->copyAlertCheck, E::MoveRight);
    anchors->Add(ui_->buttonFrame, E::GrowWide | E::MoveDown);
    for (QWidget* button : {ui_->clipboardButton, ui_->openPageButton}) anchors->Add(button, E::MoveDown);
    for (QWidget* button : {ui_->settingsButton, ui_->helpButton, ui_->aboutButton, ui_->exitButton})
        anchors->Add(button, E::MoveRight | E::MoveDown);
    setMinimumSize(width(), kMinHeight);
}

void CAlbumBrowserDlg::keyPressEvent(QKeyEvent* event) {
    // Esc does not close the main window (退出 and the close button do); Enter in the template box
    // has applied the template and starts nothing else.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (event->key() == Qt::Key_Escape || (enter && focusWidget() == ui_->templateEdit)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

CAlbumBrowserDlg::~CAlbumBrowserDlg() {
    // A worker past its Close only returns; let it finish before the window it reports to goes.
    // It may still be waiting for a report to be carried out here, so keep carrying them out.
    while (worker_ && !worker_->wait(10)) QCoreApplication::processEvents();
}

int CAlbumBrowserDlg::DoModal() {
    OnInitDialog();
    PlaceOnScreen();
    return exec();
}

void CAlbumBrowserDlg::PlaceOnScreen() {
    // Room for the window manager's title bar and borders, which are not known before the window shows.
    constexpr int kFrameWidth = 16, kFrameHeight = 40;
    const QScreen* shown = screen();
    if (!shown) return;
    const QRect room = shown->availableGeometry();
    resize(std::clamp(room.width() - kFrameWidth, minimumWidth(), width()),
           std::clamp(room.height() - kFrameHeight, minimumHeight(), height()));
    // Placed by its frame: centred, the title bar never above the screen's top.
    move(room.x() + std::max(0, (room.width() - width() - kFrameWidth) / 2),
         room.y() + std::max(0, (room.height() - height() - kFrameHeight) / 2));
}

void CAlbumBrowserDlg::OnInitDialog() {
    UpdateData(false);

    QTableWidget* list = ui_->albumList;
    list->setColumnCount(2);
    list->setHorizontalHeaderLabels({QStringLiteral("标题"), QStringLiteral("图片张数")});
    list->setShowGrid(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSortingEnabled(false);
    list->setContextMenuPolicy(Qt::PreventContextMenu);  // a right click on the list does nothing
    list->verticalHeader()->hide();
    list->horizontalHeader()->setSectionsClickable(false);
    list->horizontalHeader()->setHighlightSections(false);
    list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The columns fill the list's outer width, a few pixels more than it shows: no scroll bar for them.
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const int width = list->frameGeometry().width();
    list->setColumnWidth(0, 2 * width / 3);
    list->setColumnWidth(1, width / 3);
    // Rows of 16 pixels, or the font's line height where that is more.
    list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list->verticalHeader()->setDefaultSectionSize(std::max(kMinRowHeight, list->fontMetrics().height() + 2));

#ifdef Q_OS_WIN
    if (HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(winId()), FALSE)) {
        const QString item = QString::fromUtf8(kAboutItem);
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, kAboutCommand, reinterpret_cast<LPCWSTR>(item.utf16()));
    }
#endif

    ui_->userList->clear();
    const AppSettings& s = settings();
    for (int i = 0; i < s.userCount; ++i) ui_->userList->addItem(FromGbk(s.userNames[i]));
    ui_->userList->setCurrentRow(-1, QItemSelectionModel::Clear);
    ShowBackupState();

    RebuildPreview();
    ui_->addUserButton->setFocus();
}

void CAlbumBrowserDlg::UpdateData(bool saveAndValidate) {
    QListWidget* users = ui_->userList;
    if (saveAndValidate) {
        const QList<QListWidgetItem*> chosen = users->selectedItems();
        selectedUser = chosen.isEmpty() ? std::string() : ToGbk(chosen.first()->text());
        for (int i = 0; i < SizeCount; ++i) {
            if (sizeRadios_[i]->isChecked()) sizeIndex = i;
        }
        for (int i = 0; i < FormatCount; ++i) {
            if (formatRadios_[i]->isChecked()) formatIndex = i;
        }
        outputTemplate = ToGbk(ui_->templateEdit->text());
        copyAlert = ui_->copyAlertCheck->isChecked() ? 1 : 0;
        return;
    }
    // The first entry that begins with the chosen name, ignoring case; no name selects nothing.
    if (!selectedUser.empty()) {
        const QString prefix = FromGbk(selectedUser);
        for (int i = 0; i < users->count(); ++i) {
            if (users->item(i)->text().startsWith(prefix, Qt::CaseInsensitive)) {
                users->setCurrentRow(i, QItemSelectionModel::ClearAndSelect);
                break;
            }
        }
    }
    if (sizeIndex >= 0 && sizeIndex < SizeCount) sizeRadios_[sizeIndex]->setChecked(true);
    if (formatIndex >= 0 && formatIndex < FormatCount) formatRadios_[formatIndex]->setChecked(true);
    ui_->templateEdit->setText(FromGbk(outputTemplate));
    ui_->templateEdit->setCursorPosition(0);
    ui_->copyAlertCheck->setChecked(copyAlert != 0);
}

void CAlbumBrowserDlg::RebuildPreview() {
    const std::string page =
        BuildPreviewPage(catalogue_, albumIndex, sizeIndex, outputTemplate, copyAlert != 0);
    SetClipboardText(page);
    const std::string path = WritePreviewFile(settings().outputPath, page);
    if (settings().userCount == 0) {
        ShowWelcomePage();
    } else if (!path.empty()) {
        ui_->browser->Navigate(path);
    }
}

void CAlbumBrowserDlg::ShowWelcomePage() {
    QFile file(QStringLiteral(":/albumbrowser/welcome.htm"));
    if (!file.open(QIODevice::ReadOnly)) return;
    const QString folder = QString::fromStdString(AbsoluteOsPath(settings().outputPath));
    ui_->browser->ShowPage(
        QString::fromUtf8(file.readAll()).replace(QLatin1String("$folder"), folder.toHtmlEscaped()).toUtf8());
}

void CAlbumBrowserDlg::ShowBackupState() {
    QListWidget* users = ui_->userList;
    for (int row = 0; row < users->count(); ++row) {
        QListWidgetItem* item = users->item(row);
        // The list shows the user names of the record, row for row.
        const std::string name = row < settings().userCount ? settings().userNames[row] : std::string();
        const std::optional<LedgerRun> run =
            AppSettings::IsValidUserName(name)
                ? Ledger::LastUpdateOf(Ledger::PathFor(UserFolder(settings(), name)))
                : std::nullopt;
        QString line = QStringLiteral("还没有备份");
        QString tip = line;
        bool complete = true;
        if (run) {
            const QString when = QDateTime::fromString(QString::fromStdString(run->endedAt), Qt::ISODate)
                                     .toLocalTime()
                                     .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
            complete = run->outcome == "done";
            line = QStringLiteral("上次备份：%1，%2")
                       .arg(when, complete ? QStringLiteral("完整") : QStringLiteral("未完成"));
            tip = complete
                      ? line
                      : QStringLiteral("%1（%2）：%3")
                            .arg(line, OutcomeWords(run->outcome), QString::fromStdString(run->text.bytes));
        }
        item->setIcon(complete ? QIcon() : style()->standardIcon(QStyle::SP_MessageBoxWarning));
        item->setToolTip(tip);
        item->setData(kBackupLineRole, line);
    }
    ShowSelectedBackup();
}

void CAlbumBrowserDlg::ShowSelectedBackup() {
    const QList<QListWidgetItem*> chosen = ui_->userList->selectedItems();
    QLabel* label = ui_->backupStatusLabel;
    label->setText(chosen.isEmpty() ? QString() : chosen.first()->data(kBackupLineRole).toString());
    label->setToolTip(chosen.isEmpty() ? QString() : chosen.first()->toolTip());
}

void CAlbumBrowserDlg::UpdateAlbums(bool fromCache) {
    UpdateContext context{catalogue_,   reader_, settings(), service_,
                          progressDlg_, *this,   jobUser_,   outputTemplate};
    ::UpdateAlbums(context, fromCache);
}

void CAlbumBrowserDlg::VerifyBackup() {
    ::VerifyBackup(VerifyContext{settings(), service_, progressDlg_, jobUser_});
}

void CAlbumBrowserDlg::RefreshAlbumList() {
    ::RefreshAlbumList(catalogue_, *this, progressDlg_);
}

int CAlbumBrowserDlg::RowCount() {
    int count = 0;
    RunOnWindowThread(this, [&] {
        // A refresh starts by counting: the list now shows the albums of this job's user.
        albumListUser_ = jobUser_;
        count = ui_->albumList->rowCount();
    });
    return count;
}

void CAlbumBrowserDlg::DeleteRow(int row) {
    RunOnWindowThread(this, [&] {
        if (row >= 0 && row < ui_->albumList->rowCount()) ui_->albumList->removeRow(row);
    });
}

bool CAlbumBrowserDlg::InsertRow(int row, const std::string& title) {
    bool inserted = false;
    RunOnWindowThread(this, [&] {
        QTableWidget* list = ui_->albumList;
        if (row < 0 || row > list->rowCount()) return;
        list->insertRow(row);
        list->setItem(row, 0, new QTableWidgetItem(FromGbk(title)));
        list->setItem(row, 1, new QTableWidgetItem());
        inserted = true;
    });
    return inserted;
}

void CAlbumBrowserDlg::SetCountText(int row, const std::string& text) {
    RunOnWindowThread(this, [&] {
        if (QTableWidgetItem* item = ui_->albumList->item(row, 1)) item->setText(FromGbk(text));
    });
}

void CAlbumBrowserDlg::OnChooseSize() {
    UpdateData(true);
    RebuildPreview();
}

void CAlbumBrowserDlg::OnChooseFormat() {
    UpdateData(true);
    for (int f = 0; f < BuiltInFormatCount; ++f) {
        if (sender() == formatRadios_[f]) outputTemplate = FormatTemplates()[f];
    }
    UpdateData(false);
    RebuildPreview();
}

void CAlbumBrowserDlg::OnChooseCustomFormat() {
    UpdateData(true);
    UpdateData(false);
    RebuildPreview();
}

void CAlbumBrowserDlg::OnImportLocal() {
    StartJob(JobKind::ImportLocal);
}

void CAlbumBrowserDlg::OnUpdateFromNetwork() {
    StartJob(JobKind::UpdateFromNetwork);
}

void CAlbumBrowserDlg::OnVerifyBackup() {
    StartJob(JobKind::VerifyBackup);
}

CMyThread* CAlbumBrowserDlg::CreateWorker() {
    return new CMyThread();
}

void CAlbumBrowserDlg::StartJob(JobKind job) {
    UpdateData(true);
    catalogue_.userName = selectedUser;
    if (selectedUser.empty()) {
        ShowMessage(this, QStringLiteral("请从列表选择一个用户！"));
        return;
    }
    jobUser_ = selectedUser;
    CMyThread* worker = CreateWorker();
    worker->SetOwner(this);
    worker->SetJob(job);
    worker_ = worker;
    CProgressDlg* progress = &progressDlg_;
    const bool started = progressDlg_.DoModal([worker, progress] {
        const int run = progress->RunSerial();
        QObject::connect(worker, &QThread::finished, progress, [progress, run] {
            if (progress->RunSerial() == run) progress->JobEnded();
        });
        if (worker->Start()) return true;
        delete worker;
        return false;
    });
    progressDlg_.interruptRequested = false;
    if (!started) return;
    ShowMessage(this, FromGbk(progressDlg_.resultText),
                job == JobKind::ImportLocal ? QStringLiteral("信息") : QStringLiteral("提示"),
                QMessageBox::Warning);
    ShowBackupState();
    RebuildPreview();
}

void CAlbumBrowserDlg::OnViewLocal() {
    UpdateData(true);
    if (selectedUser.empty()) {
        ShowMessage(this, QStringLiteral("请从列表选择一个用户！"));
        return;
    }
    ShellOpenFile(IndexPagePath(UserFolder(settings(), selectedUser)), this);
}

void CAlbumBrowserDlg::OnOpenGallery() {
    UpdateData(true);
    if (selectedUser.empty()) {
        ShowMessage(this, QStringLiteral("请从列表选择一个用户！"));
        return;
    }
    const std::string page = JoinPath(GalleryFolder(UserFolder(settings(), selectedUser)), "index.html");
    if (!FileExists(page)) {
        ShowMessage(this, QStringLiteral("此用户还没有相册画廊，请先联网更新相册。"));
        return;
    }
    ShellOpenFile(page, this);
}

void CAlbumBrowserDlg::OnAlbumSelectionChanged() {
    UpdateData(true);
    albumIndex = 0;
    const QList<QTableWidgetItem*> chosen = ui_->albumList->selectedItems();
    int first = -1;
    for (const QTableWidgetItem* item : chosen) {
        if (first < 0 || item->row() < first) first = item->row();
    }
    if (first >= 0) albumIndex = first;
    RebuildPreview();
}

void CAlbumBrowserDlg::OnOpenAlbumPage() {
    // An index the catalogue no longer holds names no page.
    if (albumIndex < 0 || albumIndex >= catalogue_.albumCount) return;
    const std::string id(catalogue_.albums[albumIndex].id.view());
    // The id comes from the service: it names a file only when it cannot lead out of the user folder.
    if (!IsSafeFileId(id)) return;
    ShellOpenFile(AlbumPagePath(UserFolder(settings(), albumListUser_), id, 3), this);
}

void CAlbumBrowserDlg::OnAddUser() {
    CAddUserDlg dialog(this);
    if (dialog.DoModal() != QDialog::Accepted) return;
    const QString name = dialog.name.trimmed();
    if (name.isEmpty()) return;
    const std::string refusal = settings().AddUser(ToGbk(name));
    if (!refusal.empty()) {
        ShowMessage(this, FromGbk(refusal), QString(), QMessageBox::Warning);
        return;
    }
    ui_->userList->addItem(FromGbk(settings().userNames[settings().userCount - 1]));
    ShowBackupState();
}

void CAlbumBrowserDlg::OnDeleteUser() {
    UpdateData(true);
    const QList<QListWidgetItem*> chosen = ui_->userList->selectedItems();
    if (chosen.isEmpty()) {
        ShowMessage(this, QStringLiteral("请从列表选择一个用户！"));
        return;
    }
    // No is the default: Enter alone must not delete.
    const auto answer =
        ShowMessage(this, QStringLiteral("删除用户不会删除原来保存本地的图片信息。确定要删除吗？"),
                    QStringLiteral("删除用户"), QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
                    QMessageBox::No);
    if (answer != QMessageBox::Yes) return;
    const int index = ui_->userList->row(chosen.first());
    const std::string failure = settings().DeleteUser(index);
    if (!failure.empty()) {
        ShowMessage(this, FromGbk(failure), QString(), QMessageBox::Warning);
        return;
    }
    delete ui_->userList->takeItem(index);
    // The list would select the next user; nobody chose that one.
    ui_->userList->setCurrentRow(-1, QItemSelectionModel::Clear);
    selectedUser.clear();
}

void CAlbumBrowserDlg::OnSettings() {
    if (settingsDlg_.DoModal() != QDialog::Accepted) return;
    UpdateData(true);
    // An empty custom format leaves the template as it is.
    if (!settings().customFormat.empty()) outputTemplate = settings().customFormat;
    UpdateData(false);
    RebuildPreview();
}

void CAlbumBrowserDlg::OnShowClipboardText() {
    CClipTextDlg dialog(this);
    dialog.text = FromGbk(GetClipboardText());
    dialog.DoModal();
}

void CAlbumBrowserDlg::OnOpenPreviewPage() {
    ShellOpenFile(JoinPath(settings().outputPath, "temp.htm"), this);
}

void CAlbumBrowserDlg::OnHelp() {
    ShellOpenUrl(QUrl(QString::fromLatin1(CAboutDlg::kMakerWebPage)), this);
}

void CAlbumBrowserDlg::OnAbout() {
    CAboutDlg dialog(this);
    dialog.DoModal();
}

void CAlbumBrowserDlg::OnExit() {
    UpdateData(true);
    accept();
}

void CAlbumBrowserDlg::ShowContextMenu(const QPoint& pos) {
    QMenu menu(this);
    menu.addAction(QString::fromUtf8(kAboutItem), this, &CAlbumBrowserDlg::OnAbout);
    menu.exec(mapToGlobal(pos));
}

bool CAlbumBrowserDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
#ifdef Q_OS_WIN
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message == WM_SYSCOMMAND && (msg->wParam & 0xFFF0) == kAboutCommand) {
        OnAbout();
        *result = 0;
        return true;
    }
#endif
    return QDialog::nativeEvent(eventType, message, result);
}

CWebBrowser2* CAlbumBrowserDlg::browser() const {
    return ui_->browser;
}
QListWidget* CAlbumBrowserDlg::userList() const {
    return ui_->userList;
}
QTableWidget* CAlbumBrowserDlg::albumList() const {
    return ui_->albumList;
}
