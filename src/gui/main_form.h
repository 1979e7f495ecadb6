#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QTranslator>

#include <functional>
#include <memory>
#include <vector>

#include "core/activity_log.h"
#include "core/item_kind.h"
#include "gui/item_observer_bridge.h"
#include "platform/thread.h"

class QLabel;
class QMenu;

namespace Ui {
class MainForm;
}

namespace quorvel {
class BaseMonitoring;
class Lang;
class MonitorProcess;
}  // namespace quorvel

namespace quorvel::gui {

class ActivityLogForm;
class ActivityLogModel;
class FormPositions;
class ItemListModel;
class ItemListView;
class StatusIcons;
class TrayIcon;

/// How the item properties dialog is opened.
enum class ItemDialogMode { Add = 0, Edit = 1, Copy = 2 };

/// The windows the main window opens; the dialogs fill these in. Each
/// answers whether the user confirmed (OK).
struct WindowHooks {
    /// Add (kind, initial path), Edit or Copy (entry index) an item.
    std::function<bool(ItemDialogMode mode, ItemKind kind, int index, const QString& path)>
        itemProperties;
    std::function<bool()> programOptions;
    std::function<void()> about;
    std::function<void()> helpContents;
    std::function<void()> mailAuthor;
    std::function<void()> homepage;
    /// Opens the help topic of a help context number (a dialog's page or
    /// group, Help button or F1).
    std::function<void(int context)> helpTopic;
    /// Applying options: take the single-instance name when "OneInstance"
    /// is on, and register the restore hot key ("RestoreKey", 0: none).
    std::function<void(bool oneInstance)> singleInstance;
    std::function<void(int restoreKey)> restoreKey;
};

/// The main window: the configuration's entries, one row each, with every
/// command on the list and on the configuration file, the status bar and
/// the tray icon. It owns the item list, the language and the tray icon.
class MainForm : public QMainWindow {
    Q_OBJECT

public:
    explicit MainForm(QWidget* parent = nullptr);
    ~MainForm() override;

    // Start-up.
    void SetConfigName(const QString& path);
    const QString& ConfigName() const { return m_configName; }
    /// Appends the entries of a configuration file and starts its items;
    /// false only when the file cannot be opened. content, when given,
    /// receives the bytes that were read.
    bool LoadConfiguration(const QString& path, QByteArray* content = nullptr);
    /// Loads the configuration the program starts with. One named from
    /// outside (the command line, a double click on the file) that runs
    /// programs, changes files or closes programs, and that this user did not
    /// let run in this form before, loads with monitoring stopped and asks
    /// first; Yes starts it and remembers the answer. The user's default
    /// configuration and files saved from the program never ask.
    bool OpenStartConfiguration(const QString& path, bool named);
    /// Stops every item (or lets them go on) and shows it.
    void SetMonitoringStopped(bool stopped);
    /// The caption with the configuration's name; selects the first row.
    void ShowConfigName();
    /// Menu pictures, refresh period, tray, restore click, single instance,
    /// hot key and hidden icon, from the options.
    void ApplyOptions();
    /// Un-minimizes, shows and brings the window to the front.
    void RestoreWindow();

    // The items' notifications (user-interface thread).
    void UpdateStatus(BaseMonitoring& item);
    void ShowCountdown(BaseMonitoring& item);
    void ActionsStarting(BaseMonitoring& item);
    /// What the items reported since the last time, at once (user-interface
    /// thread); acting: some item started its actions.
    void ShowItemChanges(const std::vector<ItemObserverBridge::Change>& changes, bool acting);

    // For the dialogs and for tests.
    MonitorProcess& List() { return *m_list; }
    ActivityLogModel& LogModel() { return *m_logModel; }
    ItemListModel& Model() { return *m_model; }
    ItemListView& View();
    Lang& Language() { return *m_lang; }
    TrayIcon& Tray() { return *m_tray; }
    WindowHooks& Hooks() { return m_hooks; }
    bool Saved() const { return m_saved; }
    /// Marks the configuration changed (or not) and updates the status bar.
    void SetSaved(bool saved);
    /// Refills the texts of a row from its entry.
    void FillRow(int row);
    /// The refresh timer's work (also called by tests).
    void RefreshTick();
    /// Picture the tray shows now.
    enum class TrayPicture { None, Normal, Run, Stopped };
    TrayPicture ShownPicture() const { return m_shown; }
    /// The rows selected, top to bottom.
    std::vector<int> SelectedRows() const;
    /// A window to translate again on every change of language (in the
    /// order they were registered, after this one).
    void RegisterTranslated(QWidget* window);
    /// Translates this window and every registered one anew.
    void TranslateWindows();
    /// Qt's own texts in the language of the language file ("Locale" in
    /// its [General] section).
    void InstallQtTranslation();
    /// The row the user last acted on, or -1.
    int CurrentRow() const;
    /// Takes the path of files dropped on the list (the first one).
    void DropPaths(const QStringList& paths);

signals:
    /// The window agreed to close: the program ends.
    void Closed();

public slots:
    void NewConfiguration();
    void LoadCommand();
    bool SaveCommand();
    bool SaveAsCommand();
    void ImportCommand();
    void ExportCommand();
    void DeleteCommand();
    void MoveUp();
    void MoveDown();
    /// Moves the entry at from to to; nothing when refused.
    void MoveEntry(int from, int to);
    void AddSeparator();
    void SelectAll();
    void SuspendCommand();
    void ResumeCommand();
    void CheckNowCommand();
    void DoActionNow();
    void StopOrContinueAll();
    void StopSound();
    void ToggleToolbar();
    void ToggleStatusBar();
    void ChangeLanguage(const QString& fileName);
    void AddFileCommand();
    void AddDirectoryCommand();
    void CopyCommand();
    void PropertiesCommand();
    void OptionsCommand();
    /// Shows the activity log window.
    void ShowActivityLog();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // The commands: what runs each, where it appears and when it may run.
    enum class Needs { Always, Rows, OneItem, Items, ItemsWhileRunning, MoveUp, MoveDown };
    using Surface = QAction* Ui::MainForm::*;
    struct Command {
        std::function<void(MainForm&)> run;
        std::vector<Surface> surfaces;
        Needs needs;
    };
    static const std::vector<Command>& Commands();

    void BuildMenus();
    void ConnectCommands();
    void UpdateStatusBar();
    /// Enables the commands for the given current row (-1: none).
    void UpdateCommandStates(int currentRow);
    void UpdateAllStoppedCaptions();
    void ApplyMenuPictures(bool on);
    void ShowTrayPicture(TrayPicture picture);
    void TrayHint();
    void AfterItemAdded();
    void OpenItemDialog(ItemDialogMode mode, ItemKind kind);
    bool AskToSaveChanges();
    bool SaveTo(const QString& path);
    QString FileFilter() const;
    QString Text(int index) const;
    void SelectOnly(int row);

    std::unique_ptr<Ui::MainForm> m_ui;
    QTranslator m_qtTranslation;
    ActivityLogModel* m_logModel = nullptr;  // a child of the window
    ActivityLogForm* m_logForm = nullptr;    // made on first use
    ActivityLog::Attachment m_logAttachment;
    std::unique_ptr<MonitorProcess> m_list;
    // "Do Action Now" runs; they end soon after their items are stopped.
    std::vector<platform::Thread> m_helpers;
    std::unique_ptr<Lang> m_lang;
    ItemListModel* m_model;
    QMenu* m_itemPopupMenu;
    QMenu* m_trayMenu;
    QMenu* m_barsPopupMenu;
    TrayIcon* m_tray;
    StatusIcons* m_statusIcons;
    QLabel* m_stateLabel;
    QLabel* m_modifiedLabel;
    QLabel* m_emptyLabel;
    QTimer m_refresh;
    std::unique_ptr<FormPositions> m_positions;
    std::vector<QPointer<QWidget>> m_translated;
    WindowHooks m_hooks;
    QString m_configName;
    QString m_droppedPath;
    TrayPicture m_shown = TrayPicture::None;
    bool m_saved = true;
    bool m_untitled = false;  // made by New: a save asks for a name
    bool m_closed = false;
};

}  // namespace quorvel::gui
