#include "gui/main_form.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLibraryInfo>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolBar>

#include <algorithm>

#include "core/activity_log.h"
#include "core/text_util.h"
#include "core/version.h"
#include "engine/base_monitoring.h"
#include "engine/check_file_thread.h"
#include "engine/monitor_process.h"
#include "gui/activity_log_form.h"
#include "gui/activity_log_model.h"
#include "gui/configuration_trust.h"
#include "gui/file_dialogs.h"
#include "gui/form_positions.h"
#include "gui/form_translator.h"
#include "gui/item_list_model.h"
#include "gui/item_list_view.h"
#include "gui/item_observer_bridge.h"
#include "gui/list_header.h"
#include "gui/message_boxes.h"
#include "gui/pictures.h"
#include "gui/thread_bridge.h"
#include "gui/tray_icon.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/sound_player.h"
#include "platform/thread.h"
#include "settings/adv_string_list.h"
#include "settings/lang.h"
#include "settings/options.h"
#include "ui_main_form.h"

namespace quorvel::gui {

namespace {

constexpr const char* kUntitled = "Untitled.mon";
constexpr int kDefaultWidths[5] = {50, 200, 50, 100, 200};
const QString kProduct = QString::fromUtf8(kProductName);

}  // namespace

/// The status bar's first panel: the "all stopped" and "modified" marks,
/// each drawn in colour when it holds and greyed otherwise.
class StatusIcons : public QWidget {
public:
    explicit StatusIcons(QWidget* parent) : QWidget(parent) { setFixedWidth(34); }
    void Set(bool stopped, bool modified) {
        m_stopped = stopped;
        m_modified = modified;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const int top = (height() - 16) / 2;
        Pictures::Named("SmallPause")
            .paint(&painter, QRect(0, top, 16, 16), Qt::AlignCenter,
                   m_stopped ? QIcon::Normal : QIcon::Disabled);
        Pictures::Named("SaveAct").paint(&painter, QRect(16, top, 16, 16), Qt::AlignCenter,
                                         m_modified ? QIcon::Normal : QIcon::Disabled);
    }

private:
    bool m_stopped = false;
    bool m_modified = false;
};

MainForm::MainForm(QWidget* parent)
    : QMainWindow(parent),
      m_ui(std::make_unique<Ui::MainForm>()),
      m_list(std::make_unique<MonitorProcess>()),
      m_model(new ItemListModel(*m_list, this)) {
    ThreadBridge::Instance().Reopen();
    Pictures::Register();
    m_ui->setupUi(this);
    setWindowIcon(Pictures::Application());

    // The language and the string table.
    Options& options = Options::Instance();
    m_lang = std::make_unique<Lang>(options.Language());
    m_lang->TranslateStrings(Strings(), "Strings");
    InstallQtTranslation();
    FillLanguageMenu(m_ui->langItem, *m_lang, [this](const QString& f) { ChangeLanguage(f); });

    // The item list and its rows.
    m_list->SetObserver(&ItemObserverBridge::Instance());
    m_list->SetDefaultCacheDirectory(options.CacheDirectory());
    ItemObserverBridge::Instance().SetWindow(this);
    View().setModel(m_model);
    auto* header = m_ui->listHeader;
    const QString sections[5] = {QString(), QStringLiteral("File (directory)"),
                                 QStringLiteral("Interval"), QStringLiteral("Actions"),
                                 QStringLiteral("Description")};
    for (int i = 0; i < 5; ++i) {
        header->SetSectionText(i, sections[i]);
    }
    // The header strip sets the column widths and follows horizontal scrolling.
    connect(header, &QHeaderView::sectionResized, this,
            [this](int section, int, int size) { View().setColumnWidth(section, size); });
    connect(View().horizontalScrollBar(), &QScrollBar::valueChanged, header,
            [header](int value) { header->setOffset(value); });
    const std::vector<int> widths = LoadColumnWidths(
        "Col", std::vector<int>(std::begin(kDefaultWidths), std::end(kDefaultWidths)));
    for (int i = 0; i < 5; ++i) {
        header->resizeSection(i, widths[static_cast<std::size_t>(i)]);
        View().setColumnWidth(i, widths[static_cast<std::size_t>(i)]);
    }

    // Status bar: four panels.
    m_statusIcons = new StatusIcons(statusBar());
    m_stateLabel = new QLabel(statusBar());
    m_modifiedLabel = new QLabel(statusBar());
    m_emptyLabel = new QLabel(statusBar());
    for (QLabel* label : {m_stateLabel, m_modifiedLabel, m_emptyLabel}) {
        label->setTextFormat(Qt::PlainText);
    }
    for (QLabel* label : {m_stateLabel, m_modifiedLabel}) {
        label->setFixedWidth(100);
        label->setAlignment(Qt::AlignCenter);
        label->setProperty(kNotTranslated, true);
    }
    m_emptyLabel->setFixedWidth(50);
    statusBar()->addWidget(m_statusIcons);
    statusBar()->addWidget(m_stateLabel);
    statusBar()->addWidget(m_modifiedLabel);
    statusBar()->addWidget(m_emptyLabel);

    // The activity log keeps its last records from the start on.
    m_logModel = new ActivityLogModel(this);
    m_logAttachment = ActivityLog::Attachment(m_logModel->Sink());
    connect(m_logModel, &ActivityLogModel::UnseenErrorsChanged, this, [this] { TrayHint(); });

    BuildMenus();
    m_tray = new TrayIcon(m_trayMenu, this);
    ShowTrayPicture(TrayPicture::Normal);
    TrayHint();
    ConnectCommands();

    TranslateForm(this, m_lang->File());
    ApplyOptions();
    m_ui->toolbarItem->setChecked(options.ShowToolbar());
    m_ui->toolbarPopItem->setChecked(options.ShowToolbar());
    m_ui->statusBarItem->setChecked(options.ShowStatusBar());
    m_ui->statusBarPopItem->setChecked(options.ShowStatusBar());
    m_ui->toolBar->setVisible(options.ShowToolbar());
    statusBar()->setVisible(options.ShowStatusBar());
    UpdateAllStoppedCaptions();
    UpdateStatusBar();

    connect(&m_refresh, &QTimer::timeout, this, &MainForm::RefreshTick);
    m_refresh.start();
    setAcceptDrops(true);

    // The client area's size before a saved placement applies.
    resize(683, 242 + menuBar()->sizeHint().height() + m_ui->toolBar->sizeHint().height() +
                    statusBar()->sizeHint().height());
    m_positions = std::make_unique<FormPositions>(this, "\\Positions\\Main", true);
    m_positions->Restore();
    UpdateCommandStates(-1);
}

MainForm::~MainForm() {
    m_logAttachment = ActivityLog::Attachment();
    // Workers inside a notification are let go first, and none reaches this
    // window again.
    ItemObserverBridge::Instance().SetWindow(nullptr);
    ThreadBridge::Instance().Close();
    setAcceptDrops(false);
    if (m_hooks.restoreKey) {
        m_hooks.restoreKey(0);
    }
    delete m_tray;
    m_tray = nullptr;
    m_model->ClearEntries();
    if (m_positions) {
        m_positions->Save();
    }
}

ItemListView& MainForm::View() {
    return *m_ui->filesListView;
}

QString MainForm::Text(int index) const {
    return QString::fromStdString(Strings().Text(index));
}

void MainForm::BuildMenus() {
    Ui::MainForm& ui = *m_ui;
    m_itemPopupMenu = new QMenu(this);
    m_itemPopupMenu->setObjectName("itemPopupMenu");
    for (QAction* a :
         {ui.propPopItem, (QAction*)nullptr, ui.addPopItem, ui.addDirItem, ui.delPopItem,
          (QAction*)nullptr, ui.suspendPopItem, ui.resumePopItem, (QAction*)nullptr,
          ui.checkPopItem, ui.actionPopItem, (QAction*)nullptr, ui.copyPopItem, ui.addSepPop}) {
        if (a == nullptr) {
            m_itemPopupMenu->addSeparator();
        } else {
            m_itemPopupMenu->addAction(a);
        }
    }
    m_itemPopupMenu->setDefaultAction(ui.propPopItem);

    m_trayMenu = new QMenu(this);
    m_trayMenu->setObjectName("trayMenu");
    for (QAction* a : {ui.restoreItem, ui.popStopItem, ui.popContItem, ui.stopSndPopItem,
                       (QAction*)nullptr, ui.aboutTrayItem, (QAction*)nullptr, ui.exitItem}) {
        if (a == nullptr) {
            m_trayMenu->addSeparator();
        } else {
            m_trayMenu->addAction(a);
        }
    }
    m_trayMenu->setDefaultAction(ui.restoreItem);

    m_barsPopupMenu = new QMenu(this);
    m_barsPopupMenu->setObjectName("barsPopupMenu");
    m_barsPopupMenu->addAction(ui.toolbarPopItem);
    m_barsPopupMenu->addAction(ui.statusBarPopItem);
    for (QWidget* bar : {static_cast<QWidget*>(ui.toolBar), static_cast<QWidget*>(statusBar())}) {
        bar->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(bar, &QWidget::customContextMenuRequested, this,
                [this, bar](const QPoint& p) { m_barsPopupMenu->popup(bar->mapToGlobal(p)); });
    }
    View().setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&View(), &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        const std::vector<int> rows = SelectedRows();
        UpdateCommandStates(rows.empty() ? -1 : rows.front());
        m_itemPopupMenu->popup(View().viewport()->mapToGlobal(p));
    });

    // Disabled toolbar buttons and menu entries have pictures of their own.
    const struct {
        QAction* action;
        const char* normal;
        const char* disabled;
    } variants[] = {
        {ui.copyButton, "bmpCopy", "bmpCopy_Dis"},
        {ui.deleteButton, "bmpNoFile", "bmpNoFile_Dis"},
        {ui.propButton, "bmpProp", "bmpProp_Dis"},
        {ui.suspendButton, "bmpPause", "bmpPause_Dis"},
        {ui.resumeButton, "bmpPlay", "bmpPlay_Dis"},
        {ui.downButton, "bmpDown", "bmpDown_Dis"},
        {ui.upButton, "bmpUp", "bmpUp_Dis"},
        {ui.checkButton, "bmpUnknown", "bmpUnknown_Dis"},
        {ui.doButton, "bmpRun", "bmpRun_Dis"},
        {ui.deleteItem, "bmpNoFile", "bmpNoFile_Inact"},
        {ui.suspendItem, "bmpPause", "bmpPause_Inact"},
        {ui.resumeItem, "bmpPlay", "bmpPlay_Inact"},
        {ui.checkItem, "bmpUnknown", "bmpUnknown_Inact"},
        {ui.actionItem, "bmpRun", "bmpRun_Inact"},
        {ui.upItem, "bmpUp", "bmpUp_Inact"},
        {ui.downItem, "bmpDown", "bmpDown_Inact"},
    };
    for (const auto& v : variants) {
        v.action->setIcon(Pictures::WithDisabled(v.normal, v.disabled));
    }
    // Shortcuts that the keyboard gives several names.
    ui.propertiesItem->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    ui.addItem->setShortcut(QKeySequence(Qt::Key_Insert));
    ui.addDirectoryItem->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Insert));
    ui.deleteItem->setShortcut(QKeySequence(Qt::Key_Delete));
    ui.stopSndItem->setShortcut(QKeySequence(Qt::Key_Escape));
    for (QAction* a : {ui.propertiesItem, ui.deleteItem, ui.addItem, ui.addDirectoryItem,
                       ui.copyItem, ui.selectAllItem, ui.upItem, ui.downItem}) {
        a->setShortcutContext(Qt::WindowShortcut);
    }
}

const std::vector<MainForm::Command>& MainForm::Commands() {
    using U = Ui::MainForm;
    using N = Needs;
    auto hook = [](std::function<void()> WindowHooks::*field) {
        return [field](MainForm& f) {
            if (f.m_hooks.*field) {
                (f.m_hooks.*field)();
            }
        };
    };
    // Each command once: what runs it, where it appears (menu, toolbar,
    // pop-up menus) and what the selection must be for it to be enabled.
    static const std::vector<Command> commands = {
        {[](MainForm& f) { f.NewConfiguration(); }, {&U::newItem}, N::Always},
        {[](MainForm& f) { f.LoadCommand(); }, {&U::loadItem, &U::loadButton}, N::Always},
        {[](MainForm& f) { f.SaveCommand(); }, {&U::saveItem, &U::saveButton}, N::Always},
        {[](MainForm& f) { f.SaveAsCommand(); }, {&U::saveAsItem}, N::Always},
        {[](MainForm& f) { f.ImportCommand(); }, {&U::importItem}, N::Always},
        {[](MainForm& f) { f.ExportCommand(); }, {&U::exportItem}, N::Rows},
        {[](MainForm& f) { f.close(); }, {&U::quitItem, &U::exitItem}, N::Always},
        {[](MainForm& f) { f.CopyCommand(); }, {&U::copyItem, &U::copyButton, &U::copyPopItem},
         N::OneItem},
        {[](MainForm& f) { f.AddSeparator(); }, {&U::separatorItem, &U::addSepPop}, N::Always},
        {[](MainForm& f) { f.MoveUp(); }, {&U::upItem, &U::upButton}, N::MoveUp},
        {[](MainForm& f) { f.MoveDown(); }, {&U::downItem, &U::downButton}, N::MoveDown},
        {[](MainForm& f) { f.SelectAll(); }, {&U::selectAllItem}, N::Always},
        {[](MainForm& f) { f.ShowActivityLog(); }, {&U::activityLogItem}, N::Always},
        {[](MainForm& f) { f.AddFileCommand(); }, {&U::addItem, &U::addButton, &U::addPopItem},
         N::Always},
        {[](MainForm& f) { f.AddDirectoryCommand(); },
         {&U::addDirectoryItem, &U::addDirButton, &U::addDirItem},
         N::Always},
        {[](MainForm& f) { f.DeleteCommand(); },
         {&U::deleteItem, &U::deleteButton, &U::delPopItem},
         N::Rows},
        {[](MainForm& f) { f.PropertiesCommand(); },
         {&U::propertiesItem, &U::propButton, &U::propPopItem},
         N::OneItem},
        {[](MainForm& f) { f.SuspendCommand(); },
         {&U::suspendItem, &U::suspendButton, &U::suspendPopItem},
         N::ItemsWhileRunning},
        {[](MainForm& f) { f.ResumeCommand(); },
         {&U::resumeItem, &U::resumeButton, &U::resumePopItem},
         N::ItemsWhileRunning},
        {[](MainForm& f) { f.CheckNowCommand(); },
         {&U::checkItem, &U::checkButton, &U::checkPopItem},
         N::ItemsWhileRunning},
        {[](MainForm& f) { f.DoActionNow(); }, {&U::actionItem, &U::doButton, &U::actionPopItem},
         N::Items},
        {[](MainForm& f) { f.StopOrContinueAll(); },
         {&U::stopAllItem, &U::continueItem, &U::popStopItem, &U::popContItem},
         N::Always},
        {[](MainForm& f) { f.StopSound(); }, {&U::stopSndItem, &U::stopSndPopItem}, N::Always},
        {[](MainForm& f) { f.ToggleToolbar(); }, {&U::toolbarItem, &U::toolbarPopItem}, N::Always},
        {[](MainForm& f) { f.ToggleStatusBar(); }, {&U::statusBarItem, &U::statusBarPopItem},
         N::Always},
        {[](MainForm& f) { f.OptionsCommand(); }, {&U::settingsItem, &U::optButton}, N::Always},
        {[](MainForm& f) { f.RestoreWindow(); }, {&U::restoreItem}, N::Always},
        {hook(&WindowHooks::about), {&U::aboutItem, &U::aboutTrayItem}, N::Always},
        {hook(&WindowHooks::helpContents), {&U::helpItem}, N::Always},
        {hook(&WindowHooks::mailAuthor), {&U::mailItem}, N::Always},
        {hook(&WindowHooks::homepage), {&U::homepageItem}, N::Always},
    };
    return commands;
}

void MainForm::ConnectCommands() {
    Ui::MainForm& ui = *m_ui;
    for (const Command& command : Commands()) {
        for (const Surface surface : command.surfaces) {
            connect(ui.*surface, &QAction::triggered, this, [this, &command] { command.run(*this); });
        }
    }

    connect(&View(), &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) {
            PropertiesCommand();
        }
    });
    connect(View().selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { UpdateCommandStates(current.row()); });
    connect(View().selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        UpdateCommandStates(View().currentIndex().isValid() ? View().currentIndex().row() : -1);
    });
    connect(&View(), &ItemListView::RowDropped, this, &MainForm::MoveEntry);
    connect(&View(), &ItemListView::PathsDropped, this, &MainForm::DropPaths);
}

// ---- start-up ----

void MainForm::SetConfigName(const QString& path) {
    m_configName = path;
    m_untitled = false;
}

bool MainForm::LoadConfiguration(const QString& path, QByteArray* content) {
    std::string text;
    const bool loaded = m_model->LoadFile(path.toStdString(), content != nullptr ? &text : nullptr);
    if (content != nullptr) {
        *content = QByteArray::fromStdString(text);
    }
    return loaded;
}

bool MainForm::OpenStartConfiguration(const QString& path, bool named) {
    const bool own = QFileInfo(path).absoluteFilePath() ==
                     QFileInfo(QString::fromStdString(platform::DefaultConfigurationFile()))
                         .absoluteFilePath();
    if (!named || own) {
        return LoadConfiguration(path);
    }
    // Nothing starts before the answer: the items load held.
    const bool wasStopped = m_list->AllPaused();
    SetMonitoringStopped(true);
    QByteArray content;
    const bool loaded = LoadConfiguration(path, &content);
    constexpr std::size_t kShown = 5;
    std::size_t count = 0;
    const std::vector<std::string> acting = ActionsThatAct(*m_list, kShown, &count);
    bool start = acting.empty() || ConfigurationTrust::IsTrusted(path, content);
    if (!start) {
        QString text = Text(lngRunsPrograms) + "\n";
        for (const std::string& line : acting) {
            text += "\n" + QString::fromStdString(line);
        }
        if (count > acting.size()) {
            text += "\n...";
        }
        text += "\n\n" + Text(lngStartMonitoring);
        start = MessageBoxes::Show(this, kProduct, text, QMessageBox::Warning,
                                   QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
        if (start) {
            ConfigurationTrust::Trust(path, content);
        }
    }
    SetMonitoringStopped(wasStopped || !start);
    return loaded;
}

void MainForm::ShowConfigName() {
    setWindowTitle(kProduct + " - " + m_configName);
    if (m_model->rowCount() > 0) {
        SelectOnly(0);
    } else {
        UpdateCommandStates(-1);
    }
}

void MainForm::ApplyOptions() {
    const Options& options = Options::Instance();
    ApplyMenuPictures(options.MenuImages());
    m_refresh.setInterval(options.Interval() * 1000);
    m_tray->SetEnabled(options.TrayMinimize());
    const auto restore = [this] { RestoreWindow(); };
    if (options.SingleRestore()) {
        m_tray->SetOnClick(restore);
        m_tray->SetOnDoubleClick(nullptr);
    } else {
        m_tray->SetOnClick(nullptr);
        m_tray->SetOnDoubleClick(restore);
    }
    if (m_hooks.singleInstance) {
        m_hooks.singleInstance(options.OneInstance());
    }
    if (m_hooks.restoreKey) {
        m_hooks.restoreKey(options.RestoreKey());
    }
    m_tray->SetHidden(options.HideIcon());
}

void MainForm::ApplyMenuPictures(bool on) {
    // Menus show pictures only when asked to; the toolbar keeps its own.
    for (QAction* a : findChildren<QAction*>()) {
        const auto owners = a->associatedObjects();
        const bool toolButton = std::any_of(owners.begin(), owners.end(), [](QObject* o) {
            return qobject_cast<QToolBar*>(o) != nullptr;
        });
        if (!toolButton) {
            a->setIconVisibleInMenu(on);
        }
    }
}

void MainForm::RestoreWindow() {
    if (isMinimized()) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
    }
    show();
    raise();
    activateWindow();
}

// ---- notifications ----

void MainForm::UpdateStatus(BaseMonitoring& item) {
    const int row = item.Id();
    if (m_list->Get(row).get() == &item) {
        // Settings the item took at the end of a check show once taken.
        if (m_model->ShownSettings(row) != item.SettingsGeneration()) {
            FillRow(row);
        }
        m_model->SetState(row, item.State());
    }
}

void MainForm::ShowCountdown(BaseMonitoring& item) {
    const int row = item.Id();
    if (m_list->Get(row).get() == &item) {
        // While the check runs no time is left.
        m_model->SetCountdown(row, item.Interval(), 0);
    }
}

void MainForm::ActionsStarting(BaseMonitoring&) {
    ShowTrayPicture(TrayPicture::Run);
}

void MainForm::ShowItemChanges(const std::vector<ItemObserverBridge::Change>& changes,
                               bool acting) {
    for (const auto& c : changes) {
        const int row = c.row;
        // An entry moved or deleted since is shown by its own change.
        if (m_list->Get(row).get() != c.item) {
            continue;
        }
        if (m_model->ShownSettings(row) != c.settings) {
            FillRow(row);
        }
        m_model->SetState(row, c.state);
        if (c.countdown) {
            m_model->SetCountdown(row, c.interval, 0);
        }
    }
    if (acting) {
        ShowTrayPicture(TrayPicture::Run);
    }
}

// ---- rows ----

void MainForm::FillRow(int row) {
    if (row < 0 || row >= m_list->Count()) {
        return;
    }
    m_model->FillRow(row);
}

std::vector<int> MainForm::SelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : m_ui->filesListView->selectionModel()->selectedRows()) {
        rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

int MainForm::CurrentRow() const {
    const QModelIndex current = m_ui->filesListView->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void MainForm::SelectOnly(int row) {
    if (row < 0 || row >= m_model->rowCount()) {
        return;
    }
    const QModelIndex index = m_model->index(row, 0);
    View().selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    View().scrollTo(index);
    UpdateCommandStates(row);
}

void MainForm::RefreshTick() {
    bool allClear = true;
    for (int row = 0; row < m_list->Count(); ++row) {
        const auto item = m_list->Get(row);
        if (!item) {
            continue;
        }
        const ItemState state = item->State();
        if (state == ItemState::Triggered ||
            (item->Kind() == ItemKind::File && state == ItemState::NotFound &&
             static_cast<const CheckFileThread&>(*item).MustExist())) {
            allClear = false;
        }
        if (!item->Suspended() && state != ItemState::Waiting) {
            m_model->SetCountdown(row, item->Interval(), item->SecondsLeft(), false);
        }
    }
    m_model->CountdownsChanged();
    if (m_shown != TrayPicture::Normal && !m_list->AllPaused() && allClear) {
        ShowTrayPicture(TrayPicture::Normal);
    }
    m_tray->Add();
}

// ---- tray, status bar, states ----

void MainForm::ShowTrayPicture(TrayPicture picture) {
    m_shown = picture;
    switch (picture) {
        case TrayPicture::Normal:
            m_tray->SetIcon(Pictures::Named("TrayIcon"));
            break;
        case TrayPicture::Run:
            m_tray->SetIcon(Pictures::Named("TrayIconRun"));
            break;
        case TrayPicture::Stopped:
            m_tray->SetIcon(Pictures::Named("StopIcon"));
            break;
        case TrayPicture::None:
            break;
    }
}

void MainForm::TrayHint() {
    QString hint = kProduct + " - " + Text(m_list->AllPaused() ? lngStopped : lngActive);
    if (const int errors = m_logModel->UnseenErrors(); errors > 0) {
        hint += "\n" + Text(lngUnseenErrors).replace(QStringLiteral("%s"), QString::number(errors));
    }
    m_tray->SetHint(hint);
}

void MainForm::ShowActivityLog() {
    if (m_logForm == nullptr) {
        m_logForm = new ActivityLogForm(*m_logModel, this);
        RegisterTranslated(m_logForm);
        TranslateForm(m_logForm, m_lang->File());
    }
    m_logForm->ShowLog();
}

void MainForm::SetSaved(bool saved) {
    m_saved = saved;
    UpdateStatusBar();
}

void MainForm::UpdateStatusBar() {
    const bool stopped = m_list->AllPaused();
    m_statusIcons->Set(stopped, !m_saved);
    m_stateLabel->setText(Text(stopped ? lngStopped : lngActive));
    m_modifiedLabel->setText(m_saved ? QString() : Text(lngModified));
}

void MainForm::UpdateAllStoppedCaptions() {
    const bool stopped = m_list->AllPaused();
    m_ui->stopAllItem->setVisible(!stopped);
    m_ui->popStopItem->setVisible(!stopped);
    m_ui->continueItem->setVisible(stopped);
    m_ui->popContItem->setVisible(stopped);
}

void MainForm::UpdateCommandStates(int currentRow) {
    const std::vector<int> rows = SelectedRows();
    const bool single = rows.size() == 1;
    const bool multi = rows.size() >= 2;
    const bool separator = currentRow >= 0 && m_model->IsSeparator(currentRow);
    const bool stopped = m_list->AllPaused();
    const int number = currentRow + 1;
    auto allowed = [&](Needs needs) {
        switch (needs) {
            case Needs::Always:
                return true;
            case Needs::Rows:
                return single || multi;
            case Needs::OneItem:
                return single && !separator;
            case Needs::Items:
                return (single && !separator) || multi;
            case Needs::ItemsWhileRunning:
                return ((single && !separator) || multi) && !stopped;
            case Needs::MoveUp:
                return single && number >= 2;
            case Needs::MoveDown:
                return single && number >= 1 && number < m_model->rowCount();
        }
        return true;
    };
    Ui::MainForm& ui = *m_ui;
    for (const Command& command : Commands()) {
        if (command.needs == Needs::Always) {
            continue;
        }
        const bool on = allowed(command.needs);
        for (const Surface surface : command.surfaces) {
            (ui.*surface)->setEnabled(on);
        }
    }
}

// ---- file commands ----

QString MainForm::FileFilter() const {
    return Text(lngQVFiles) + " (*.mon)|*.mon|" + Text(lngAllFiles) + " (*.*)|*";
}

bool MainForm::AskToSaveChanges() {
    if (m_saved || !Options::Instance().ConfSave()) {
        return true;
    }
    const auto answer =
        MessageBoxes::Show(this, kProduct, Text(lngConfChanged), QMessageBox::Question,
                           QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::Cancel) {
        return false;
    }
    if (answer == QMessageBox::Yes) {
        // A save that was cancelled or failed stops the command: the list
        // and its changes stay.
        return SaveCommand();
    }
    return true;
}

void MainForm::NewConfiguration() {
    if (!AskToSaveChanges()) {
        return;
    }
    m_model->ClearEntries();
    SetSaved(true);
    m_configName = kUntitled;
    m_untitled = true;
    ShowConfigName();
}

void MainForm::LoadCommand() {
    const QString path = FileDialogs::OpenFile(this, Text(lngLoadTitle), QString(), FileFilter());
    if (path.isEmpty() || !AskToSaveChanges()) {
        return;
    }
    m_model->ClearEntries();
    m_configName = path;
    m_untitled = false;
    if (!LoadConfiguration(path)) {
        MessageBoxes::Show(this, kProduct, Text(lngErrorLoading), QMessageBox::Critical,
                           QMessageBox::Ok);
    }
    SetSaved(true);
    ShowConfigName();
}

bool MainForm::SaveTo(const QString& path) {
    // The default configuration's folder may not exist yet.
    if (path.toStdString() == platform::DefaultConfigurationFile()) {
        platform::CreateDirectories(QFileInfo(path).absolutePath().toStdString(), 0700);
    }
    std::string error;
    if (m_list->Save(path.toStdString(), {}, &error)) {
        // What the user saved from the program runs without asking later.
        if (auto saved = platform::ReadWholeFile(path.toStdString())) {
            ConfigurationTrust::Trust(path, QByteArray::fromStdString(*saved));
        }
        return true;
    }
    ActivityLog::Report(LogLevel::Error, error);
    MessageBoxes::Show(this, kProduct, Text(lngCantSave), QMessageBox::Critical, QMessageBox::Ok);
    return false;
}

bool MainForm::SaveCommand() {
    if (m_untitled) {
        return SaveAsCommand();
    }
    if (!SaveTo(m_configName)) {
        return false;
    }
    SetSaved(true);
    return true;
}

bool MainForm::SaveAsCommand() {
    const QString path =
        FileDialogs::SaveFile(this, Text(lngSaveAs), QString(), FileFilter(), "mon");
    if (path.isEmpty() || !SaveTo(path)) {
        return false;
    }
    m_configName = path;
    m_untitled = false;
    setWindowTitle(kProduct + " - " + m_configName);
    SetSaved(true);
    return true;
}

void MainForm::ImportCommand() {
    const QString path = FileDialogs::OpenFile(this, Text(lngImportTitle), QString(), FileFilter());
    if (path.isEmpty()) {
        return;
    }
    if (!LoadConfiguration(path)) {
        MessageBoxes::Show(this, kProduct, Text(lngErrorLoading), QMessageBox::Critical,
                           QMessageBox::Ok);
    }
    SetSaved(false);
}

void MainForm::ExportCommand() {
    const QString path =
        FileDialogs::SaveFile(this, Text(lngExportTitle), QString(), FileFilter(), "mon");
    if (path.isEmpty()) {
        return;
    }
    const std::vector<int> rows = SelectedRows();
    const auto selected = [&rows](int i) {
        return std::binary_search(rows.begin(), rows.end(), i);
    };
    std::string error;
    if (!m_list->Save(path.toStdString(), selected, &error)) {
        ActivityLog::Report(LogLevel::Error, error);
        MessageBoxes::Show(this, kProduct, Text(lngCantSave), QMessageBox::Critical,
                           QMessageBox::Ok);
    }
}

// ---- list commands ----

void MainForm::DeleteCommand() {
    std::vector<int> rows = SelectedRows();
    if (rows.empty()) {
        return;
    }
    if (Options::Instance().ConfDelete() &&
        MessageBoxes::Show(this, kProduct, Text(lngDeleteMsg), QMessageBox::Question,
                           QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
        return;
    }
    View().setUpdatesEnabled(false);
    int last = 0;
    // The first selected row goes each time; those after it move up.
    for (std::size_t i = 0; i < rows.size(); ++i) {
        last = rows[i] - static_cast<int>(i);
        m_model->DeleteEntry(last);
    }
    View().setUpdatesEnabled(true);
    if (m_model->rowCount() > 0) {
        SelectOnly(std::min(last, m_model->rowCount() - 1));
    } else {
        View().selectionModel()->clearSelection();
        UpdateCommandStates(-1);
    }
    SetSaved(false);
}

void MainForm::MoveEntry(int from, int to) {
    if (!m_model->MoveEntry(from, to)) {
        return;
    }
    FillRow(to);
    SelectOnly(to);
    SetSaved(false);
}

void MainForm::MoveUp() {
    const std::vector<int> rows = SelectedRows();
    if (rows.size() == 1) {
        MoveEntry(rows.front(), rows.front() - 1);
    }
}

void MainForm::MoveDown() {
    const std::vector<int> rows = SelectedRows();
    if (rows.size() == 1) {
        MoveEntry(rows.front(), rows.front() + 1);
    }
}

void MainForm::AfterItemAdded() {
    SetSaved(false);
    const int last = m_model->rowCount() - 1;
    FillRow(last);
    SelectOnly(last);
    View().setFocus();
}

void MainForm::AddSeparator() {
    m_model->AddEntry(ItemKind::Separator, false);
    AfterItemAdded();
}

void MainForm::SelectAll() {
    View().selectAll();
}

void MainForm::SuspendCommand() {
    const std::vector<int> rows = SelectedRows();
    if (m_list->AllPaused() || rows.empty()) {
        return;
    }
    bool changed = false;
    for (int row : rows) {
        if (auto item = m_list->Get(row); item && !item->Suspended()) {
            item->Pause();
            m_model->SetState(row, item->State());
            changed = true;
        }
    }
    if (changed) {
        SetSaved(false);
    }
    UpdateCommandStates(rows.back());
}

void MainForm::ResumeCommand() {
    const std::vector<int> rows = SelectedRows();
    if (m_list->AllPaused() || rows.empty()) {
        return;
    }
    bool changed = false;
    for (int row : rows) {
        if (auto item = m_list->Get(row); item && item->Suspended()) {
            item->Resume();
            m_model->SetState(row, item->State());
            changed = true;
        }
    }
    if (changed) {
        SetSaved(false);
    }
    UpdateCommandStates(rows.back());
}

void MainForm::CheckNowCommand() {
    const std::vector<int> rows = SelectedRows();
    if (m_list->AllPaused() || rows.empty()) {
        return;
    }
    for (int row : rows) {
        if (auto item = m_list->Get(row)) {
            item->CheckNow(true);
            m_model->SetState(row, item->State());
        }
    }
    UpdateCommandStates(rows.front());
}

void MainForm::DoActionNow() {
    for (int row : SelectedRows()) {
        if (auto item = m_list->Get(row)) {
            // A thread of its own per item, beside the item's worker; it runs
            // also while monitoring is stopped. The window owns it.
            std::erase_if(m_helpers, [](const platform::Thread& t) { return t.Finished(); });
            m_helpers.emplace_back([item] { item->RunActionsNow(); });
        }
    }
}

void MainForm::StopOrContinueAll() {
    SetMonitoringStopped(!m_list->AllPaused());
}

void MainForm::SetMonitoringStopped(bool stop) {
    m_list->SetAllPaused(stop);
    UpdateAllStoppedCaptions();
    ShowTrayPicture(stop ? TrayPicture::Stopped : TrayPicture::Normal);
    TrayHint();
    UpdateStatusBar();
    UpdateCommandStates(-1);
}

void MainForm::StopSound() {
    for (int row = 0; row < m_list->Count(); ++row) {
        if (auto item = m_list->Get(row)) {
            StopSounds(*item->Actions());
        }
    }
    platform::CurrentSoundPlayer()->Purge();
}

void MainForm::ToggleToolbar() {
    const bool on = !m_ui->toolBar->isVisible();
    m_ui->toolbarItem->setChecked(on);
    m_ui->toolbarPopItem->setChecked(on);
    m_ui->toolBar->setVisible(on);
    Options::Instance().SetShowToolbar(on);
}

void MainForm::ToggleStatusBar() {
    const bool on = !statusBar()->isVisible();
    m_ui->statusBarItem->setChecked(on);
    m_ui->statusBarPopItem->setChecked(on);
    statusBar()->setVisible(on);
    Options::Instance().SetShowStatusBar(on);
}

void MainForm::ChangeLanguage(const QString& fileName) {
    Options::Instance().SetLanguage(fileName.toStdString());
    m_lang->LoadFile(fileName.toStdString());
    m_lang->TranslateStrings(Strings(), "Strings");
    InstallQtTranslation();
    for (QAction* a : m_ui->langItem->actions()) {
        a->setChecked(a->data().toString() == fileName);
    }
    TrayHint();
    UpdateStatusBar();
    TranslateWindows();
}

void MainForm::InstallQtTranslation() {
    // Qt's own texts (message box buttons, the file chooser, key names,
    // "Press shortcut") in the language of the language file, when Qt has
    // them installed.
    QCoreApplication::removeTranslator(&m_qtTranslation);
    const QString locale =
        QString::fromStdString(m_lang->File().GetString("General", "Locale", "")).trimmed();
    if (locale.isEmpty() || locale.startsWith(QStringLiteral("en"))) {
        return;
    }
    if (m_qtTranslation.load(QStringLiteral("qtbase_") + locale,
                             QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(&m_qtTranslation);
    }
}

void MainForm::RegisterTranslated(QWidget* window) {
    m_translated.emplace_back(window);
}

void MainForm::TranslateWindows() {
    TranslateForm(this, m_lang->File());
    for (const QPointer<QWidget>& w : m_translated) {
        if (w) {
            TranslateForm(w, m_lang->File());
        }
    }
}

// ---- the dialogs ----

void MainForm::OpenItemDialog(ItemDialogMode mode, ItemKind kind) {
    if (!m_hooks.itemProperties) {
        return;
    }
    int index = -1;
    if (mode != ItemDialogMode::Add) {
        const std::vector<int> rows = SelectedRows();
        if (rows.size() != 1 || m_model->IsSeparator(rows.front())) {
            return;
        }
        index = rows.front();
        if (auto item = m_list->Get(index)) {
            kind = item->Kind();
        }
    }
    const int before = m_list->Count();
    const QString path = m_droppedPath;
    m_droppedPath.clear();
    if (!m_hooks.itemProperties(mode, kind, index, path)) {
        return;
    }
    if (mode == ItemDialogMode::Edit) {
        FillRow(index);
        SetSaved(false);
        return;
    }
    if (m_list->Count() > before) {
        AfterItemAdded();
    }
}

void MainForm::AddFileCommand() {
    OpenItemDialog(ItemDialogMode::Add, ItemKind::File);
}

void MainForm::AddDirectoryCommand() {
    OpenItemDialog(ItemDialogMode::Add, ItemKind::Directory);
}

void MainForm::CopyCommand() {
    OpenItemDialog(ItemDialogMode::Copy, ItemKind::File);
}

void MainForm::PropertiesCommand() {
    OpenItemDialog(ItemDialogMode::Edit, ItemKind::File);
}

void MainForm::OptionsCommand() {
    if (m_hooks.programOptions && m_hooks.programOptions()) {
        ApplyOptions();
    }
}

void MainForm::DropPaths(const QStringList& paths) {
    if (paths.isEmpty()) {
        return;
    }
    m_droppedPath = paths.front().left(259);
    if (HasLineBreak(m_droppedPath.toStdString())) {
        // No configuration line can hold it, and the item would watch
        // something else than what was dropped.
        MessageBoxes::Show(this, kProduct, Text(lngLineBreakInName) + "\n" + m_droppedPath,
                           QMessageBox::Warning, QMessageBox::Ok);
        m_droppedPath.clear();
        return;
    }
    const QFileInfo info(m_droppedPath);
    if (info.isDir()) {
        AddDirectoryCommand();
    } else if (info.exists()) {
        AddFileCommand();
    }
    m_droppedPath.clear();
}

// ---- closing ----

void MainForm::closeEvent(QCloseEvent* event) {
    if (m_closed) {
        event->accept();
        return;
    }
    const Options& options = Options::Instance();
    if (options.ConfQuit() &&
        MessageBoxes::Show(this, kProduct, Text(lngExitMsg), QMessageBox::Question,
                           QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    if (!AskToSaveChanges()) {
        event->ignore();
        return;
    }
    m_closed = true;
    if (m_positions) {
        m_positions->Save();
        m_positions.reset();  // saved while the window still has its place
    }
    hide();
    std::vector<int> widths;
    for (int i = 0; i < 5; ++i) {
        widths.push_back(m_ui->listHeader->sectionSize(i));
    }
    SaveColumnWidths("Col", widths);
    Options::Instance().SaveAll();
    event->accept();
    emit Closed();
}

void MainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() &&
        Options::Instance().TrayMinimize()) {
        // Minimized to the tray: the taskbar button goes.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized()) {
                hide();
            }
        });
    }
}

}  // namespace quorvel::gui
