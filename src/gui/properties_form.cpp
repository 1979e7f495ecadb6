#include "gui/properties_form.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>

#include "core/date_time.h"
#include "core/text_util.h"
#include "core/version.h"
#include "engine/base_monitoring.h"
#include "engine/item_description.h"
#include "engine/monitor_process.h"
#include "gui/dialog_tools.h"
#include "gui/edit_form.h"
#include "gui/file_dialogs.h"
#include "gui/form_positions.h"
#include "gui/form_translator.h"
#include "gui/item_list_model.h"
#include "gui/message_boxes.h"
#include "gui/parameters_form.h"
#include "gui/pictures.h"
#include "settings/adv_string_list.h"
#include "settings/lang.h"
#include "settings/options.h"
#include "ui_properties_form.h"

namespace quorvel::gui {

namespace {

const QString kProduct = QString::fromUtf8(kProductName);
const std::vector<int> kActionColumns = {120, 220, 120};
constexpr const char* kNoWindow = "00:00:00 - 00:00:00";

QString Text(int index) {
    return QString::fromStdString(Strings().Text(index));
}

// A text that reads as a whole integer of the 32-bit range (blanks around
// it allowed); nothing otherwise.
std::optional<int> ReadInteger(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? std::optional<int>(value) : std::nullopt;
}

// A fraction of a day as "HH:nn:ss", the form the schedule reads back by
// character position.
QString TimeText(double fraction) {
    long long seconds = std::llround(fraction * DateTime::kSecondsPerDay);
    seconds = std::clamp(seconds, 0LL, 86399LL);
    const auto two = [](long long part) {
        return QStringLiteral("%1").arg(part, 2, 10, QLatin1Char('0'));
    };
    return two(seconds / 3600) + QLatin1Char(':') + two(seconds / 60 % 60) + QLatin1Char(':') +
           two(seconds % 60);
}

}  // namespace

PropertiesForm::PropertiesForm(MainForm& main)
    : QDialog(&main), m_main(main), m_ui(std::make_unique<Ui::PropertiesForm>()) {
    m_ui->setupUi(this);
    BuildMenus();
    ConnectControls();
    m_ui->pageControl->installEventFilter(this);
    for (const QLineEdit* field :
         {m_ui->maskEdit, m_ui->excludeEdit, m_ui->dirMaskEdit, m_ui->exclDirMaskEdit,
          m_ui->daysEdit, m_ui->nonDatesEdit, m_ui->datesEdit}) {
        m_bindings.MarkList(field);
    }
    QHeaderView* header = m_ui->actionList->header();
    header->setStretchLastSection(false);
    const std::vector<int> widths = LoadColumnWidths("ActCol", kActionColumns);
    for (int i = 0; i < static_cast<int>(widths.size()); ++i) {
        header->resizeSection(i, widths[static_cast<std::size_t>(i)]);
    }
    TranslateForm(this, main.Language().File());
    main.RegisterTranslated(this);
    ScrollWhenLarge(m_ui->pageControl);
    adjustSize();
    m_positions = std::make_unique<FormPositions>(this, "\\Positions\\Properties", true);
    m_positions->Restore();
}

PropertiesForm::~PropertiesForm() {
    m_positions->Save();
}

void PropertiesForm::BuildMenus() {
    Ui::PropertiesForm& ui = *m_ui;
    m_kindMenu = new QMenu(this);
    m_kindMenu->addActions({ui.listKindItem, ui.execKindItem, ui.popupKindItem, ui.soundKindItem,
                            ui.fileOpKindItem, ui.killKindItem});
    const auto kinds = m_kindMenu->actions();
    for (int k = 0; k < kinds.size(); ++k) {
        connect(kinds[k], &QAction::triggered, this,
                [this, k] { NewAction(static_cast<ActionKind>(k)); });
    }

    m_quickMenu = new QMenu(this);
    m_quickMenu->addActions({ui.min1Item, ui.min5Item, ui.min15Item, ui.min30Item, ui.hour1Item,
                             ui.hour4Item, ui.hour8Item, ui.hour12Item, ui.day1Item});
    for (QAction* a : m_quickMenu->actions()) {
        connect(a, &QAction::triggered, this, [this, a] {
            if (m_quickTarget) {
                m_quickTarget->setText(QString::number(a->property("seconds").toInt()));
            }
        });
    }

    auto* variables = new QMenu(this);
    variables->addActions({ui.sysDateVarItem, ui.envVarItem, ui.includeVarItem, ui.substringVarItem,
                           ui.chrVarItem, ui.percentVarItem});
    m_variables = new FieldMenu(variables);
}

void PropertiesForm::ConnectControls() {
    Ui::PropertiesForm& ui = *m_ui;
    connect(ui.OKButton, &QPushButton::clicked, this, &PropertiesForm::accept);
    connect(ui.CancelButton, &QPushButton::clicked, this, &PropertiesForm::reject);
    connect(ui.HelpButton, &QPushButton::clicked, this, &PropertiesForm::ShowHelp);

    for (QAbstractButton* b : {static_cast<QAbstractButton*>(ui.timeCheckBox),
                               static_cast<QAbstractButton*>(ui.lockCheckBox),
                               static_cast<QAbstractButton*>(ui.cacheCheckBox),
                               static_cast<QAbstractButton*>(ui.realtimeCheckBox),
                               static_cast<QAbstractButton*>(ui.subdirCheckBox)}) {
        connect(b, &QAbstractButton::toggled, this, &PropertiesForm::UpdateDependents);
    }
    connect(ui.spyComboBox, &QComboBox::currentIndexChanged, this, &PropertiesForm::SpyChanged);
    connect(ui.anyCheckBox, &QAbstractButton::clicked, this, &PropertiesForm::AnyConditionClicked);
    connect(ui.inverseButton, &QAbstractButton::clicked, this, &PropertiesForm::ToggleInverse);

    // Schedule.
    connect(ui.addButton, &QAbstractButton::clicked, this, &PropertiesForm::AddWindow);
    connect(ui.delButton, &QAbstractButton::clicked, this, &PropertiesForm::RemoveWindow);
    QCheckBox* const days[] = {ui.sunBox, ui.monBox, ui.tueBox, ui.wedBox,
                               ui.thuBox, ui.friBox, ui.satBox};
    connect(ui.allButton, &QAbstractButton::clicked, this, [days] {
        for (QCheckBox* box : days) {
            box->setChecked(true);
        }
    });
    connect(ui.noneButton, &QAbstractButton::clicked, this, [days] {
        for (QCheckBox* box : days) {
            box->setChecked(false);
        }
    });

    // Actions.
    connect(ui.newButton, &QAbstractButton::clicked, this, [this] {
        m_kindMenu->popup(m_ui->newButton->mapToGlobal(QPoint(0, m_ui->newButton->height())));
    });
    connect(ui.editButton, &QAbstractButton::clicked, this, &PropertiesForm::EditAction);
    connect(ui.deleteButton, &QAbstractButton::clicked, this, &PropertiesForm::DeleteAction);
    connect(ui.upButton, &QAbstractButton::clicked, this, [this] { MoveAction(-1); });
    connect(ui.downButton, &QAbstractButton::clicked, this, [this] { MoveAction(1); });
    connect(ui.actionList, &QTreeWidget::itemDoubleClicked, this, [this] { EditAction(); });

    // Editing aids.
    const std::pair<QAbstractButton*, QLineEdit*> quick[] = {
        {ui.intervalButton, ui.intervalEdit},
        {ui.intervalDButton, ui.intervalDEdit},
        {ui.realIntervButton, ui.realIntervEdit},
        {ui.olderButton, ui.olderEdit},
    };
    for (const auto& [button, field] : quick) {
        connect(button, &QAbstractButton::clicked, this, [this, button = button, field = field] {
            m_quickTarget = field;
            m_quickMenu->popup(button->mapToGlobal(QPoint(-1, button->height())));
        });
    }
    const std::pair<QAbstractButton*, QLineEdit*> variables[] = {
        {ui.fileVarButton, ui.fileEdit},       {ui.fileDVarButton, ui.fileDEdit},
        {ui.maskVarButton, ui.maskEdit},       {ui.excludeVarButton, ui.excludeEdit},
        {ui.dirMaskVarButton, ui.dirMaskEdit}, {ui.exclDirMaskVarButton, ui.exclDirMaskEdit},
    };
    for (const auto& [button, field] : variables) {
        connect(button, &QAbstractButton::clicked, this,
                [this, button = button, field = field] { m_variables->OpenFor(button, field); });
    }
    const std::pair<QAbstractButton*, QLineEdit*> boxes[] = {
        {ui.commentEditButton, ui.commentEdit}, {ui.commentDEditButton, ui.commentDEdit},
        {ui.maskEditButton, ui.maskEdit},       {ui.excludeEditButton, ui.excludeEdit},
        {ui.dirMaskEditButton, ui.dirMaskEdit}, {ui.exclDirMaskEditButton, ui.exclDirMaskEdit},
        {ui.daysEditButton, ui.daysEdit},       {ui.nonDatesEditButton, ui.nonDatesEdit},
        {ui.datesEditButton, ui.datesEdit},
    };
    for (const auto& [button, field] : boxes) {
        connect(button, &QAbstractButton::clicked, this,
                [field = field] { EditForm::OpenFor(field); });
        EditForm::OpenOnDoubleClick(field);
    }
    connect(ui.fileBrowseButton, &QAbstractButton::clicked, this,
            [this] { BrowseForFile(this, m_ui->fileEdit, Text(lngAllFiles) + " (*)|*", false); });
    connect(ui.fileDBrowseButton, &QAbstractButton::clicked, this,
            [this] { BrowseForFolder(this, m_ui->fileDEdit, false); });
    connect(ui.cacheBrowseButton, &QAbstractButton::clicked, this,
            [this] { BrowseForFolder(this, m_ui->cacheEdit, false); });
    connect(ui.maskBrowseButton, &QAbstractButton::clicked, this,
            [this] { BrowseMasks(m_ui->maskEdit, false); });
    connect(ui.excludeBrowseButton, &QAbstractButton::clicked, this,
            [this] { BrowseMasks(m_ui->excludeEdit, false); });
    connect(ui.dirMaskBrowseButton, &QAbstractButton::clicked, this,
            [this] { BrowseMasks(m_ui->dirMaskEdit, true); });
    connect(ui.exclDirMaskBrowseButton, &QAbstractButton::clicked, this,
            [this] { BrowseMasks(m_ui->exclDirMaskEdit, true); });
}

// ---- the values ----

std::vector<ParamBinding> PropertiesForm::CommonBindings() const {
    const Ui::PropertiesForm& ui = *m_ui;
    const bool file = m_kind == ItemKind::File;
    return {{file ? ui.fileEdit : ui.fileDEdit, "FileName"},
            {file ? ui.commentEdit : ui.commentDEdit, "Comment"},
            {ui.onceCheckBox, "RunOnce"},
            {ui.toPauseCheckBox, "ToPaused"},
            {ui.timeCheckBox, "WorkHours"},
            {ui.daysEdit, "MonthDays"},
            {ui.nonDatesEdit, "ExcludedDates"},
            {ui.datesEdit, "IncludedDates"}};
}

std::vector<ParamBinding> PropertiesForm::KindBindings() const {
    const Ui::PropertiesForm& ui = *m_ui;
    if (m_kind == ItemKind::File) {
        return {{ui.notChRadioButton, "IfChanged", ui.chRadioButton},
                {ui.startupCheckBox, "IgnoreFirst"},
                {ui.existCheckBox, "MustExist"},
                {ui.lockCheckBox, "CheckLocking"},
                {ui.waitRadioButton, "WaitUnlocking", ui.skipRadioButton}};
    }
    return {{ui.realtimeCheckBox, "RealTime"},   {ui.realIntervEdit, "RealTimeInterval"},
            {ui.cacheCheckBox, "CacheData"},     {ui.existsOnlyCheckBox, "CheckExistingOnly"},
            {ui.cacheEdit, "CacheDirectory"},    {ui.excludeEdit, "ExcludeMask"},
            {ui.exclDirMaskEdit, "ExclDirMask"}, {ui.fullMaskCheckBox, "FullPathMask"},
            {ui.hiddenCheckBox, "CountHidden"},  {ui.monDirCheckBox, "DirMonitoring"},
            {ui.subdirCheckBox, "Subdir"},       {ui.spyComboBox, "ConditionType"},
            {ui.storeCheckBox, "StorePrevInfo"}, {ui.ignoreOldCheckBox, "IgnoreAdded"},
            {ui.ignoreCheckBox, "IgnoreOpened"}, {ui.breakCheckBox, "Break"}};
}

QLineEdit* PropertiesForm::PathEdit() const {
    return m_kind == ItemKind::File ? m_ui->fileEdit : m_ui->fileDEdit;
}

QLineEdit* PropertiesForm::IntervalEdit() const {
    return m_kind == ItemKind::File ? m_ui->intervalEdit : m_ui->intervalDEdit;
}

QWidget* PropertiesForm::ConditionsPage() const {
    return m_kind == ItemKind::File ? m_ui->fileCondSheet : m_ui->dirCondSheet;
}

QWidget* PropertiesForm::OptionsPage() const {
    return m_kind == ItemKind::File ? m_ui->fileOptSheet : m_ui->dirOptSheet;
}

bool PropertiesForm::Prepare(ItemDialogMode mode, ItemKind kind, int index, const QString& path) {
    Ui::PropertiesForm& ui = *m_ui;
    std::shared_ptr<BaseMonitoring> source;
    if (mode == ItemDialogMode::Add) {
        // A fresh item gives the defaults; it never runs.
        source = CreateItem(kind, true, Options::Instance().CacheDirectory());
    } else {
        source = m_main.List().Get(index);
        if (source) {
            kind = source->Kind();
        }
    }
    if (!source || kind == ItemKind::Separator) {
        return false;
    }
    m_mode = mode;
    m_kind = kind;
    m_source = source;
    const bool file = kind == ItemKind::File;
    const ParamList& params = source->Params();

    static constexpr int kTitles[3][2] = {
        {lngAddFile, lngAddDir}, {lngFileProp, lngDirProp}, {lngCopyFile, lngCopyDir}};
    setWindowTitle(Text(kTitles[static_cast<int>(mode)][file ? 0 : 1]));

    // The kind's group and pages.
    ui.fileGroup->setVisible(file);
    ui.dirGroup->setVisible(!file);
    QTabWidget* tabs = ui.pageControl;
    for (QWidget* page : {ui.fileCondSheet, ui.fileOptSheet}) {
        tabs->setTabVisible(tabs->indexOf(page), file);
    }
    for (QWidget* page : {ui.dirCondSheet, ui.filterSheet, ui.dirOptSheet}) {
        tabs->setTabVisible(tabs->indexOf(page), !file);
    }

    // Every control from its key.
    m_bindings.Clear();
    m_bindings.Show(params, CommonBindings());
    m_bindings.Show(params, KindBindings());
    IntervalEdit()->setText(QString::number(source->Interval()));
    if (mode == ItemDialogMode::Add) {
        m_bindings.ShowText(PathEdit(), path.toStdString());
    }
    if (!file) {
        // An empty mask edit means "*" anyway.
        m_bindings.ShowText(ui.maskEdit, ParamOf<StringParam>(params, "Mask")->Value());
        m_bindings.ShowText(ui.dirMaskEdit, ParamOf<StringParam>(params, "DirMask")->Value());
        ui.olderEdit->setText(QString::number(ParamOf<IntParam>(params, "OlderInterval")->Value()));
    }
    const std::string days = ParamOf<StringParam>(params, "Days")->Value();
    QCheckBox* const dayBoxes[] = {ui.sunBox, ui.monBox, ui.tueBox, ui.wedBox,
                                   ui.thuBox, ui.friBox, ui.satBox};
    for (std::size_t d = 0; d < 7; ++d) {
        dayBoxes[d]->setChecked(d < days.size() && days[d] == '1');
    }
    ui.timeListBox->clear();
    const std::vector<std::string> windows =
        ParamOf<StringListParam>(params, "TimeInterval")->Values();
    for (const std::string& w : windows) {
        ui.timeListBox->addItem(QString::fromStdString(w));
    }
    const QString first =
        windows.empty() ? QString::fromLatin1(kNoWindow) : QString::fromStdString(windows[0]);
    ui.time1Edit->setText(first.mid(0, 8));
    ui.time2Edit->setText(first.mid(11, 8));
    if (!windows.empty()) {
        ui.timeListBox->setCurrentRow(0);
    }

    // The working copy of the actions.
    CopyActionList(m_actions, *source->Actions());
    ui.actionList->clear();
    const bool pictures = Options::Instance().MenuImages();
    const QList<QAction*> kinds = m_kindMenu->actions();
    for (int k = 0; k < kinds.size(); ++k) {
        kinds[k]->setIcon(pictures ? Pictures::ActionKindPicture(static_cast<ActionKind>(k))
                                   : QIcon());
    }
    for (const auto& action : m_actions) {
        auto* row = new QTreeWidgetItem(ui.actionList);
        FillRow(row, *action);
    }
    SelectRow(0);

    if (!file) {
        const std::string conditions = ParamOf<StringParam>(params, "Conditions")->Value();
        QCheckBox* const boxes[] = {ui.changeCheckBox, ui.addCheckBox, ui.delCheckBox,
                                    ui.anyCheckBox};
        for (std::size_t c = 0; c < 4; ++c) {
            boxes[c]->setChecked(c < conditions.size() && conditions[c] == '1');
        }
        if (ui.anyCheckBox->isChecked()) {
            AnyConditionClicked();
        } else {
            EnableGroup({ui.changeCheckBox, ui.addCheckBox, ui.delCheckBox}, true);
        }
        // The button's own action flips the flag back and sets the captions.
        m_inverse = !ParamOf<BoolParam>(params, "Inverse")->Value();
        ToggleInverse();
        SpyChanged(ui.spyComboBox->currentIndex());
    }
    ui.breakCheckBox->setEnabled(!file);
    if (file) {
        ui.breakCheckBox->setChecked(false);
    }
    ui.startCheckBox->setVisible(mode != ItemDialogMode::Edit);
    ui.resetCheckBox->setVisible(mode == ItemDialogMode::Edit && !file);
    ui.resetCheckBox->setChecked(true);
    UpdateDependents();
    tabs->setCurrentWidget(ConditionsPage());
    PathEdit()->setFocus();
    return true;
}

bool PropertiesForm::Open(ItemDialogMode mode, ItemKind kind, int index, const QString& path) {
    if (!Prepare(mode, kind, index, path)) {
        return false;
    }
    return exec() == QDialog::Accepted;
}

void PropertiesForm::Refuse(int message, QWidget* page, QLineEdit* field) {
    MessageBoxes::Show(this, kProduct, Text(message), QMessageBox::Critical, QMessageBox::Ok);
    m_ui->pageControl->setCurrentWidget(page);
    if (field != nullptr) {
        field->setFocus();
        field->selectAll();
    }
}

bool PropertiesForm::Apply() {
    Ui::PropertiesForm& ui = *m_ui;
    if (!m_source) {
        return false;
    }
    const bool file = m_kind == ItemKind::File;

    // Nothing is stored before every value has been read.
    const std::optional<int> interval = ReadInteger(IntervalEdit()->text());
    if (!interval || *interval <= 0) {
        Refuse(lngIntervMsg, OptionsPage(), IntervalEdit());
        return false;
    }
    std::optional<int> age;
    if (!file) {
        age = ReadInteger(ui.olderEdit->text());
        if (!age || *age <= 0) {
            Refuse(lngIntervMsg, ui.dirCondSheet, ui.olderEdit);
            return false;
        }
        if (ui.spyComboBox->currentIndex() == 0 && !ui.changeCheckBox->isChecked() &&
            !ui.addCheckBox->isChecked() && !ui.delCheckBox->isChecked()) {
            Refuse(lngMoreCond, ui.dirCondSheet, nullptr);
            return false;
        }
    }
    if (ui.timeListBox->count() == 0 && ui.timeCheckBox->isChecked()) {
        AddWindow();
    }

    // An item that runs takes the new settings whole, from a copy filled
    // here: none of its checks sees half old, half new values.
    const bool edit = m_mode == ItemDialogMode::Edit;
    std::shared_ptr<BaseMonitoring> item;
    if (edit) {
        item = CreateItem(m_kind, false);
        if (item) {
            item->Params().AssignFrom(m_source->Params());
        }
    } else {
        item = m_main.Model().AddEntry(m_kind, !ui.startCheckBox->isChecked());
    }
    if (!item) {
        return false;
    }
    ParamList& params = item->Params();
    m_bindings.Store(params, CommonBindings());
    m_bindings.Store(params, KindBindings());
    ParamOf<IntParam>(params, "Interval")->SetValue(*interval);
    std::string days;
    for (QCheckBox* box :
         {ui.sunBox, ui.monBox, ui.tueBox, ui.wedBox, ui.thuBox, ui.friBox, ui.satBox}) {
        days += box->isChecked() ? '1' : '0';
    }
    ParamOf<StringParam>(params, "Days")->SetFromString(days);
    std::vector<std::string> windows;
    for (int i = 0; i < ui.timeListBox->count(); ++i) {
        windows.push_back(ui.timeListBox->item(i)->text().toStdString());
    }
    ParamOf<StringListParam>(params, "TimeInterval")->SetValues(std::move(windows));
    if (!file) {
        for (auto [field, key] : {std::pair{ui.maskEdit, "Mask"}, {ui.dirMaskEdit, "DirMask"}}) {
            const std::string mask = m_bindings.ReadText(field);
            ParamOf<StringParam>(params, key)->SetFromString(mask.empty() ? "*" : mask);
        }
        std::string conditions;
        for (QCheckBox* box : {ui.changeCheckBox, ui.addCheckBox, ui.delCheckBox, ui.anyCheckBox}) {
            conditions += box->isChecked() ? '1' : '0';
        }
        ParamOf<StringParam>(params, "Conditions")->SetFromString(conditions);
        ParamOf<BoolParam>(params, "Inverse")->SetValue(m_inverse);
        ParamOf<IntParam>(params, "OlderInterval")->SetValue(*age);
    }

    // The actions: a chain running now keeps the list it started with.
    for (std::size_t i = 0; i < m_actions.size(); ++i) {
        const QTreeWidgetItem* row = ui.actionList->topLevelItem(static_cast<int>(i));
        ParamOf<BoolParam>(m_actions[i]->Params(), "Enabled")
            ->SetValue(row != nullptr && row->checkState(0) == Qt::Checked);
    }
    if (edit) {
        StopSounds(*m_source->Actions());
    }
    item->SetActions(std::make_shared<const ActionList>(std::move(m_actions)));
    m_actions.clear();
    ui.actionList->clear();

    if (edit) {
        m_source->TakeSettings(item, file || ui.resetCheckBox->isChecked());
    } else {
        item->ApplySettings();
        item->Start();
        if (ui.startCheckBox->isChecked() && !m_main.List().AllPaused()) {
            item->Resume();
        }
    }
    m_source.reset();
    return true;
}

void PropertiesForm::accept() {
    if (Apply()) {
        QDialog::accept();
    }
}

void PropertiesForm::done(int result) {
    // The working copy goes; the item keeps what it has.
    m_actions.clear();
    m_ui->actionList->clear();
    m_source.reset();
    m_positions->Save();
    if (Options::Instance().SavePosition()) {
        std::vector<int> widths;
        for (int i = 0; i < m_ui->actionList->columnCount(); ++i) {
            widths.push_back(m_ui->actionList->header()->sectionSize(i));
        }
        SaveColumnWidths("ActCol", widths);
    }
    QDialog::done(result);
}

// ---- dependent controls and conditions ----

void PropertiesForm::UpdateDependents() {
    Ui::PropertiesForm& ui = *m_ui;
    EnableGroup({ui.time1Edit, ui.time2Edit, ui.addButton, ui.delButton, ui.timeListBox},
                ui.timeCheckBox->isChecked());
    EnableGroup({ui.skipRadioButton, ui.waitRadioButton}, ui.lockCheckBox->isChecked());
    EnableGroup({ui.cacheEditLabel, ui.cacheEdit, ui.cacheBrowseButton},
                ui.cacheCheckBox->isChecked());
    EnableGroup({ui.realIntervEditLabel, ui.realIntervEdit, ui.realIntervButton},
                ui.realtimeCheckBox->isChecked());
    EnableGroup({ui.dirMaskEditLabel, ui.dirMaskEdit, ui.dirMaskVarButton, ui.dirMaskBrowseButton,
                 ui.dirMaskEditButton, ui.exclDirMaskEditLabel, ui.exclDirMaskEdit,
                 ui.exclDirMaskVarButton, ui.exclDirMaskBrowseButton, ui.exclDirMaskEditButton},
                ui.subdirCheckBox->isChecked());
}

void PropertiesForm::SpyChanged(int index) {
    m_ui->statusGroup->setVisible(index == 0);
    m_ui->ageGroup->setVisible(index == 1);
    m_ui->dirCondSheet->setProperty(kHelpContext, 1008 + std::max(index, 0));
}

void PropertiesForm::AnyConditionClicked() {
    Ui::PropertiesForm& ui = *m_ui;
    const bool any = ui.anyCheckBox->isChecked();
    ui.changeCheckBox->setChecked(true);
    ui.addCheckBox->setChecked(true);
    ui.delCheckBox->setChecked(any);
    EnableGroup({ui.changeCheckBox, ui.addCheckBox, ui.delCheckBox}, !any);
}

void PropertiesForm::ToggleInverse() {
    m_inverse = !m_inverse;
    Ui::PropertiesForm& ui = *m_ui;
    ui.changeCheckBox->setText(Text(DirectoryConditionCaption(0, m_inverse)));
    ui.addCheckBox->setText(Text(DirectoryConditionCaption(1, m_inverse)));
    ui.delCheckBox->setText(Text(DirectoryConditionCaption(2, m_inverse)));
    ui.anyCheckBox->setText(Text(DirectoryConditionCaption(3, m_inverse)));
}

// ---- schedule ----

void PropertiesForm::AddWindow() {
    const auto start = DateTime::ParseTime(m_ui->time1Edit->text().toStdString());
    const auto end = DateTime::ParseTime(m_ui->time2Edit->text().toStdString());
    if (!start || !end) {
        return;  // silently: a window that does not read is not added
    }
    m_ui->timeListBox->addItem(TimeText(*start) + " - " + TimeText(*end));
    m_ui->timeListBox->setCurrentRow(m_ui->timeListBox->count() - 1);
}

void PropertiesForm::RemoveWindow() {
    QListWidget* list = m_ui->timeListBox;
    const int row = list->currentRow();
    if (row < 0) {
        return;
    }
    const QString line = list->item(row)->text();
    m_ui->time1Edit->setText(line.mid(0, 8));
    m_ui->time2Edit->setText(line.mid(11, 8));
    delete list->takeItem(row);
    if (list->count() > 0) {
        list->setCurrentRow(std::min(row, list->count() - 1));
    }
}

// ---- actions ----

void PropertiesForm::FillRow(QTreeWidgetItem* row, const Action& action) const {
    row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    row->setText(0, QString::fromStdString(ActionKindCaption(action.Kind())));
    row->setIcon(
        0, Options::Instance().MenuImages() ? Pictures::ActionKindPicture(action.Kind()) : QIcon());
    row->setText(1, QString::fromStdString(action.Describe()));
    row->setText(2, QString::fromStdString(action.Comment()));
    row->setCheckState(0, action.Enabled() ? Qt::Checked : Qt::Unchecked);
}

void PropertiesForm::SelectRow(int row) {
    QTreeWidget* list = m_ui->actionList;
    if (row >= 0 && row < list->topLevelItemCount()) {
        list->setCurrentItem(list->topLevelItem(row));
    }
}

ParametersForm& PropertiesForm::Parameters() {
    if (!m_parameters) {
        m_parameters = new ParametersForm(this, m_main.Hooks());
        TranslateForm(m_parameters, m_main.Language().File());
        m_main.RegisterTranslated(m_parameters);
    }
    return *m_parameters;
}

void PropertiesForm::NewAction(ActionKind kind) {
    std::unique_ptr<Action> action = CreateAction(kind);
    if (!action || !Parameters().Edit(*action)) {
        return;  // a cancelled new action goes
    }
    auto* row = new QTreeWidgetItem(m_ui->actionList);
    FillRow(row, *action);
    m_actions.push_back(std::move(action));
    SelectRow(static_cast<int>(m_actions.size()) - 1);
}

void PropertiesForm::EditAction() {
    QTreeWidget* list = m_ui->actionList;
    const int row = list->indexOfTopLevelItem(list->currentItem());
    if (row < 0 || row >= static_cast<int>(m_actions.size())) {
        return;
    }
    Action& action = *m_actions[static_cast<std::size_t>(row)];
    ParamOf<BoolParam>(action.Params(), "Enabled")
        ->SetValue(list->topLevelItem(row)->checkState(0) == Qt::Checked);
    if (Parameters().Edit(action)) {
        FillRow(list->topLevelItem(row), action);
    }
}

void PropertiesForm::DeleteAction() {
    QTreeWidget* list = m_ui->actionList;
    const int row = list->indexOfTopLevelItem(list->currentItem());
    if (row < 0 || row >= static_cast<int>(m_actions.size())) {
        return;
    }
    m_actions.erase(m_actions.begin() + row);
    delete list->takeTopLevelItem(row);
    SelectRow(std::min(row, list->topLevelItemCount() - 1));
}

void PropertiesForm::MoveAction(int step) {
    QTreeWidget* list = m_ui->actionList;
    const int row = list->indexOfTopLevelItem(list->currentItem());
    const int to = row + step;
    const int count = static_cast<int>(m_actions.size());
    if (row < 0 || row >= count || to < 0 || to >= count) {
        return;
    }
    std::swap(m_actions[static_cast<std::size_t>(row)], m_actions[static_cast<std::size_t>(to)]);
    QTreeWidgetItem* moved = list->takeTopLevelItem(row);  // keeps its check box
    list->insertTopLevelItem(to, moved);
    list->setCurrentItem(moved);
}

// ---- browsing ----

void PropertiesForm::BrowseMasks(QLineEdit* field, bool directories) {
    // Masks are compared with names unless full paths are asked for.
    const bool full = m_ui->fullMaskCheckBox->isChecked();
    const QString start = m_ui->fileDEdit->text();
    QStringList chosen;
    if (directories) {
        const QString folder = FileDialogs::Folder(this, Text(lngSelectDir), start);
        if (!folder.isEmpty()) {
            chosen.push_back(folder);
        }
    } else {
        chosen =
            FileDialogs::OpenFiles(this, Text(lngSelectFile), start, Text(lngAllFiles) + " (*)|*");
    }
    QString text = field->text();
    for (const QString& path : chosen) {
        if (!text.isEmpty()) {
            text += ';';
        }
        text += full ? path : QFileInfo(path).fileName();
    }
    field->setText(text);
}

// ---- help ----

int PropertiesForm::HelpContext() const {
    const QWidget* page = m_ui->pageControl->currentWidget();
    return page != nullptr ? page->property(kHelpContext).toInt() : 0;
}

void PropertiesForm::ShowHelp() {
    if (m_main.Hooks().helpTopic) {
        m_main.Hooks().helpTopic(HelpContext());
    }
}

bool PropertiesForm::event(QEvent* event) {
    // F1 is this dialog's help, never a shortcut of another window.
    if (event->type() == QEvent::ShortcutOverride && IsPlainF1(static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QDialog::event(event);
}

void PropertiesForm::keyPressEvent(QKeyEvent* event) {
    if (IsPlainF1(event)) {
        ShowHelp();
        event->accept();
        return;
    }
    if (TurnPage(event)) {
        return;
    }
    QDialog::keyPressEvent(event);
}

bool PropertiesForm::eventFilter(QObject* watched, QEvent* event) {
    // The page control's own Ctrl+Tab would also stop at the other kind's pages.
    if (watched == m_ui->pageControl && event->type() == QEvent::KeyPress &&
        TurnPage(static_cast<QKeyEvent*>(event))) {
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

bool PropertiesForm::TurnPage(QKeyEvent* event) {
    // Ctrl+Tab and Ctrl+Shift+Tab turn the kind's pages from any field, also
    // from the path and description above them.
    const bool ctrl = (event->modifiers() & Qt::ControlModifier) != 0;
    if (!ctrl || (event->key() != Qt::Key_Tab && event->key() != Qt::Key_Backtab)) {
        return false;
    }
    const bool back =
        event->key() == Qt::Key_Backtab || (event->modifiers() & Qt::ShiftModifier) != 0;
    QTabWidget* tabs = m_ui->pageControl;
    int page = tabs->currentIndex();
    for (int pass = 0; pass < tabs->count(); ++pass) {
        page = (page + (back ? tabs->count() - 1 : 1)) % tabs->count();
        if (tabs->isTabVisible(page)) {
            tabs->setCurrentIndex(page);
            break;
        }
    }
    event->accept();
    return true;
}

void InstallItemDialogs(MainForm& main) {
    main.Hooks().itemProperties = [&main](ItemDialogMode mode, ItemKind kind, int index,
                                          const QString& path) {
        auto* dialog = main.findChild<PropertiesForm*>(QString(), Qt::FindDirectChildrenOnly);
        if (dialog == nullptr) {
            dialog = new PropertiesForm(main);
        }
        return dialog->Open(mode, kind, index, path);
    };
}

}  // namespace quorvel::gui
