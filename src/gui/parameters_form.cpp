#include "gui/parameters_form.h"

#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>

#include "actions/action.h"
#include "gui/dialog_tools.h"
#include "gui/edit_form.h"
#include "gui/form_positions.h"
#include "gui/main_form.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/sound_player.h"
#include "platform/thread.h"
#include "settings/adv_string_list.h"
#include "ui_parameters_form.h"

namespace quorvel::gui {

namespace {

constexpr unsigned kTestBeepHz = 700;
constexpr unsigned kTestBeepMs = 250;
constexpr int kDeleteFiles = 3;  // "Delete files" in typeComboBox

QString Text(int index) {
    return QString::fromStdString(Strings().Text(index));
}

// Every file shows: names here need not have an extension.
QString AllFilesFilter() {
    return Text(lngAllFiles) + " (*)|*";
}

QString WaveFilter() {
    return Text(lngWaveFiles) + " (*.wav)|*.wav|";
}

}  // namespace

ParametersForm::ParametersForm(QWidget* parent, WindowHooks& hooks)
    : QDialog(parent), m_ui(std::make_unique<Ui::ParametersForm>()), m_hooks(hooks) {
    m_ui->setupUi(this);
    BuildMacroMenu();
    ConnectButtons();
    m_bindings.MarkList(m_ui->sourceEdit);
    connect(m_ui->OKButton, &QPushButton::clicked, this, &ParametersForm::accept);
    connect(m_ui->CancelButton, &QPushButton::clicked, this, &ParametersForm::reject);
    connect(m_ui->HelpButton, &QPushButton::clicked, this, &ParametersForm::ShowHelp);
    for (QAbstractButton* b : {static_cast<QAbstractButton*>(m_ui->multiRadioButton),
                               static_cast<QAbstractButton*>(m_ui->waitCheckBox),
                               static_cast<QAbstractButton*>(m_ui->waitPopupCheckBox),
                               static_cast<QAbstractButton*>(m_ui->displCheckBox)}) {
        connect(b, &QAbstractButton::toggled, this, &ParametersForm::UpdateDependents);
    }
    connect(m_ui->typeComboBox, &QComboBox::currentIndexChanged, this,
            &ParametersForm::UpdateDependents);
    // Numbers of a few digits, beside labels that take the room of a line.
    for (QLineEdit* number : {m_ui->maxFileEdit, m_ui->terminateEdit}) {
        number->setMaximumWidth(number->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 12);
    }
    m_positions = std::make_unique<FormPositions>(this, "\\Positions\\Actions", false);
}

ParametersForm::~ParametersForm() {
    m_positions->Save();
}

void ParametersForm::BuildMacroMenu() {
    Ui::ParametersForm& ui = *m_ui;
    // The full name with the system's own separator ("\\" escapes one
    // backslash inside a macro's parameter).
    ui.macroFileItem->setProperty(kInsertText, platform::kPathSeparator == '\\'
                                                   ? QStringLiteral("%File=\"DP\\\\N.E\"")
                                                   : QStringLiteral("%File=\"DP/N.E\""));
    auto* status = new QMenu(this);
    status->addActions({ui.macroAddedItem, ui.macroChangedItem, ui.macroDeletedItem});
    ui.macroStatusMenu->setMenu(status);
    auto* menu = new QMenu(this);
    menu->addActions(
        {ui.macroFileItem, ui.macroNameItem, ui.macroPathItem, ui.macroTimeItem, ui.macroSizeItem});
    menu->addSeparator();
    menu->addAction(ui.macroStatusMenu);
    menu->addSeparator();
    menu->addActions({ui.macroRunTimeItem, ui.macroSysDateItem, ui.macroEnvItem,
                      ui.macroIncludeItem, ui.macroSubstringItem, ui.macroChrItem,
                      ui.macroPercentItem});
    menu->addSeparator();
    menu->addActions({ui.macroBeginItem, ui.macroEndItem});
    m_macros = new FieldMenu(menu);
}

void ParametersForm::ConnectButtons() {
    Ui::ParametersForm& ui = *m_ui;
    const std::pair<QAbstractButton*, QLineEdit*> macros[] = {
        {ui.listButton, ui.itemsEdit},   {ui.filenameButton, ui.fileEdit},
        {ui.varsButton, ui.paramEdit},   {ui.popupArgButton, ui.messEdit},
        {ui.waveArgButton, ui.waveEdit}, {ui.srcArgButton, ui.sourceEdit},
        {ui.destArgButton, ui.destEdit}, {ui.titleButton, ui.titleEdit},
    };
    for (const auto& [button, field] : macros) {
        connect(button, &QAbstractButton::clicked, this,
                [this, button = button, field = field] { m_macros->OpenFor(button, field); });
    }
    const std::pair<QAbstractButton*, QLineEdit*> boxes[] = {
        {ui.felenameEditButton, ui.fileEdit}, {ui.itemsEditButton, ui.itemsEdit},
        {ui.paramEditButton, ui.paramEdit},   {ui.messEditButton, ui.messEdit},
        {ui.waveEditButton, ui.waveEdit},     {ui.sourceEditButton, ui.sourceEdit},
        {ui.destEditButton, ui.destEdit},     {ui.titleEditButton, ui.titleEdit},
        {ui.commEditButton, ui.commentEdit},
    };
    for (const auto& [button, field] : boxes) {
        connect(button, &QAbstractButton::clicked, this,
                [field = field] { EditForm::OpenFor(field); });
        EditForm::OpenOnDoubleClick(field);
    }
    connect(ui.browButton, &QAbstractButton::clicked, this,
            [this] { BrowseForFile(this, m_ui->fileEdit, AllFilesFilter(), false); });
    connect(ui.commButton, &QAbstractButton::clicked, this, [this] {
        if (BrowseForProgram(this, m_ui->commEdit, Text(lngPrograms), AllFilesFilter()) &&
            m_ui->dirEdit->text().isEmpty()) {
            const QString program = m_ui->commEdit->text();
            const int cut = program.lastIndexOf(QChar::fromLatin1(platform::kPathSeparator));
            m_ui->dirEdit->setText(program.left(cut + 1));
        }
    });
    connect(ui.waveButton, &QAbstractButton::clicked, this, [this] {
        BrowseForFile(this, m_ui->waveEdit, WaveFilter() + AllFilesFilter(), false);
    });
    for (QLineEdit* field : {ui.dirEdit, ui.sourceEdit, ui.destEdit}) {
        QAbstractButton* button = field == ui.dirEdit      ? ui.dirButton
                                  : field == ui.sourceEdit ? ui.srcButton
                                                           : ui.destButton;
        connect(button, &QAbstractButton::clicked, this,
                [this, field] { BrowseForFolder(this, field, false); });
    }
    connect(ui.sndButton, &QAbstractButton::clicked, this, &ParametersForm::TestSound);
    connect(ui.stopButton, &QAbstractButton::clicked, this,
            [] { platform::CurrentSoundPlayer()->Purge(); });
}

QGroupBox* ParametersForm::Group(int kind) const {
    QGroupBox* const groups[] = {m_ui->listGroupBox,  m_ui->execGroupBox, m_ui->popupGroupBox,
                                 m_ui->soundGroupBox, m_ui->fileGroupBox, m_ui->killGroupBox};
    return kind >= 0 && kind < 6 ? groups[kind] : nullptr;
}

std::vector<ParamBinding> ParametersForm::KindBindings() const {
    const Ui::ParametersForm& ui = *m_ui;
    switch (m_action->Kind()) {
        case ActionKind::List:
            return {{ui.fileEdit, "ListName"},
                    {ui.itemsEdit, "ListParams"},
                    {ui.appendRadioButton, "ListAppend", ui.overwriteRadioButton},
                    {ui.delCheckBox, "ListDelete"},
                    {ui.cycleCheckBox, "UseCycle"}};
        case ActionKind::Execute:
            return {{ui.commEdit, "Command"},
                    {ui.paramEdit, "Params"},
                    {ui.dirEdit, "Dir"},
                    {ui.modeComboBox, "Show"},
                    {ui.multiRadioButton, "MultiArgs", ui.singleRadioButton},
                    {ui.maxFileEdit, "MaxFiles"},
                    {ui.waitCheckBox, "Wait"},
                    {ui.terminateEdit, "TerminateTime"}};
        case ActionKind::Popup:
            return {{ui.messEdit, "Message"},
                    {ui.waitPopupCheckBox, "PopupWait"},
                    {ui.yesNoCheckBox, "YesNoButton"},
                    {ui.onTopCheckBox, "AlwaysOnTop"},
                    {ui.serviceCheckBox, "ServiceNotification"}};
        case ActionKind::Sound:
            return {{ui.waveEdit, "WaveFile"},
                    {ui.beepCheckBox, "Beep"},
                    {ui.sndIntervalEdit, "SndInterval"},
                    {ui.sndPeriodEdit, "SndPeriod"}};
        case ActionKind::FileOp:
            return {{ui.typeComboBox, "OpIndex"},
                    {ui.sourceEdit, "OpSource"},
                    {ui.destEdit, "OpDestination"},
                    {ui.filesCheckBox, "OpFilesOnly"},
                    {ui.undoCheckBox, "AllowUndo"},
                    {ui.displCheckBox, "ShowProgress"},
                    {ui.yesCheckBox, "YesToAll"},
                    {ui.singleOpRadioButton, "OpSingleArg", ui.multiOpRadioButton}};
        case ActionKind::Kill:
            return {{ui.titleEdit, "killTitleMask"},
                    {ui.allCheckBox, "killCloseAll"},
                    {ui.m2RadioButton, "killForcedKill", ui.m1RadioButton}};
    }
    return {};
}

void ParametersForm::Fill(Action& action) {
    m_action = &action;
    m_bindings.Clear();
    const int kind = static_cast<int>(action.Kind());
    for (int k = 0; k < 6; ++k) {
        Group(k)->setVisible(k == kind);
    }
    m_ui->enabledCheckBox->setChecked(action.Enabled());
    m_ui->delayEdit->setText(QString::number(action.DelayBefore()));
    m_bindings.ShowText(m_ui->commentEdit, action.Comment());
    m_bindings.Show(action.Params(), KindBindings());
    UpdateDependents();
    adjustSize();
}

void ParametersForm::Store() {
    if (m_action == nullptr) {
        return;
    }
    m_bindings.Store(m_action->Params(), {{m_ui->enabledCheckBox, "Enabled"},
                                          {m_ui->delayEdit, "DelayBefore"},
                                          {m_ui->commentEdit, "ActComment"}});
    m_bindings.Store(m_action->Params(), KindBindings());
}

bool ParametersForm::Edit(Action& action) {
    Fill(action);
    // Placed by the size of this action's page: the first time centred, later
    // where it was closed last.
    m_positions->Restore();
    const bool ok = exec() == QDialog::Accepted;
    m_action = nullptr;
    return ok;
}

void ParametersForm::accept() {
    Store();
    QDialog::accept();
}

void ParametersForm::done(int result) {
    m_positions->Save();
    QDialog::done(result);
}

void ParametersForm::UpdateDependents() {
    Ui::ParametersForm& ui = *m_ui;
    EnableGroup({ui.maxFileEdit, ui.maxFileEditLabel}, ui.multiRadioButton->isChecked());
    EnableGroup({ui.terminateEdit, ui.terminateEditLabel}, ui.waitCheckBox->isChecked());
    EnableGroup({ui.yesNoCheckBox}, ui.waitPopupCheckBox->isChecked());
    EnableGroup({ui.yesCheckBox}, ui.displCheckBox->isChecked());
    EnableGroup({ui.destEdit, ui.destEditLabel, ui.destEditButton, ui.destArgButton, ui.destButton},
                ui.typeComboBox->currentIndex() != kDeleteFiles);
}

void ParametersForm::TestSound() {
    auto player = platform::CurrentSoundPlayer();
    // The text as typed, no macros. Only a regular file is handed over: a
    // pipe or a device would hold the player until someone writes to it.
    const std::string path = m_ui->waveEdit->text().toStdString();
    if (const auto info = platform::Stat(path); info && info->isRegular) {
        player->Play(path);
    }
    if (m_ui->beepCheckBox->isChecked()) {
        // A beep of its own beside the window; one still sounding ends first.
        m_beep = platform::Thread([player] { player->Beep(kTestBeepHz, kTestBeepMs); });
    }
}

int ParametersForm::HelpContext() const {
    if (m_action != nullptr) {
        if (QGroupBox* group = Group(static_cast<int>(m_action->Kind()))) {
            return group->property(kHelpContext).toInt();
        }
    }
    return 0;
}

void ParametersForm::ShowHelp() {
    if (m_hooks.helpTopic) {
        m_hooks.helpTopic(HelpContext());
    }
}

bool ParametersForm::event(QEvent* event) {
    // F1 is this dialog's help, never a shortcut of another window.
    if (event->type() == QEvent::ShortcutOverride && IsPlainF1(static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QDialog::event(event);
}

void ParametersForm::keyPressEvent(QKeyEvent* event) {
    if (IsPlainF1(event)) {
        ShowHelp();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace quorvel::gui
