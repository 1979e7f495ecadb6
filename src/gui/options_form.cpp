#include "gui/options_form.h"

#include <QFile>
#include <QKeyEvent>

#include "core/text_util.h"
#include "gui/desktop_application.h"
#include "gui/dialog_tools.h"
#include "gui/file_dialogs.h"
#include "gui/form_positions.h"
#include "gui/restore_hot_key.h"
#include "platform/desktop_entry.h"
#include "platform/paths.h"
#include "settings/adv_string_list.h"
#include "settings/options.h"
#include "ui_options_form.h"

namespace quorvel::gui {

namespace {

platform::ApplicationInfo ThisProgram() {
    return DesktopApplication(platform::ExecutablePath());
}

std::string ApplicationIcon() {
    QFile file(QStringLiteral(":/icons/quorvel.svg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

}  // namespace

OptionsForm::OptionsForm(QWidget* parent, std::function<void(int)> helpTopic)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::OptionsForm>()),
      m_helpTopic(std::move(helpTopic)) {
    m_ui->setupUi(this);
    // The title bar's "?" (where the desktop draws one) asks What's This.
    setWindowFlag(Qt::WindowContextHelpButtonHint, true);
    m_ui->pageControl->setCurrentIndex(0);
    m_ui->waylandLabel->setVisible(!RestoreHotKey::Available());
    connect(m_ui->trayCheckBox, &QCheckBox::toggled, this, &OptionsForm::TrayChanged);
    connect(m_ui->cacheButton, &QToolButton::clicked, this, &OptionsForm::BrowseCacheDirectory);
    connect(m_ui->OKButton, &QPushButton::clicked, this, &OptionsForm::Confirm);
    connect(m_ui->CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui->HelpButton, &QPushButton::clicked, this, [this] {
        if (m_helpTopic) {
            m_helpTopic(HelpContext());
        }
    });
    ScrollWhenLarge(m_ui->pageControl);
    adjustSize();  // centred by its real size when no place is stored
    m_positions = std::make_unique<FormPositions>(this, "\\Positions\\Options", false);
    m_positions->Restore();
}

OptionsForm::~OptionsForm() {
    m_positions->Save();
}

bool OptionsForm::Execute() {
    ShowValues();
    const bool confirmed = exec() == QDialog::Accepted;
    m_positions->Save();
    return confirmed;
}

int OptionsForm::HelpContext() const {
    const QWidget* page = m_ui->pageControl->currentWidget();
    return page != nullptr ? page->property("helpContext").toInt() : 0;
}

void OptionsForm::keyPressEvent(QKeyEvent* event) {
    // F1 alone is the Help button.
    if (event->key() == Qt::Key_F1 &&
        (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) == 0) {
        m_ui->HelpButton->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void OptionsForm::ShowValues() {
    const Options& o = Options::Instance();
    Ui::OptionsForm& ui = *m_ui;
    ui.minCheckBox->setChecked(o.StartMinimized());
    ui.oneCheckBox->setChecked(o.OneInstance());
    ui.startupCheckBox->setChecked(platform::AutostartEnabled());
    ui.delCheckBox->setChecked(o.ConfDelete());
    ui.unsavedCheckBox->setChecked(o.ConfSave());
    ui.exitCheckBox->setChecked(o.ConfQuit());
    ui.monCheckBox->setChecked(platform::AssociationPresent());
    ui.cacheEdit->setText(QString::fromStdString(o.CacheDirectory()));
    ui.trayCheckBox->setChecked(o.TrayMinimize());
    ui.singleRadioButton->setChecked(o.SingleRestore());
    ui.doubleRadioButton->setChecked(!o.SingleRestore());
    ui.hideCheckBox->setChecked(o.HideIcon());
    ui.restoreHotKey->SetShortcut(o.RestoreKey());
    ui.imgCheckBox->setChecked(o.MenuImages());
    ui.posCheckBox->setChecked(o.SavePosition());
    ui.intervalEdit->setValue(o.Interval());
    TrayChanged();
}

void OptionsForm::TrayChanged() {
    // The restore choices keep their values while they are off.
    const bool tray = m_ui->trayCheckBox->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(m_ui->doubleRadioButton),
                       static_cast<QWidget*>(m_ui->singleRadioButton),
                       static_cast<QWidget*>(m_ui->hideCheckBox)}) {
        w->setEnabled(tray);
    }
}

void OptionsForm::BrowseCacheDirectory() {
    const QString chosen = FileDialogs::Folder(
        this, QString::fromStdString(Strings().Text(lngSelectDir)), m_ui->cacheEdit->text());
    if (!chosen.isEmpty()) {
        m_ui->cacheEdit->setText(chosen);
    }
}

void OptionsForm::Confirm() {
    Options& o = Options::Instance();
    const Ui::OptionsForm& ui = *m_ui;
    o.SetSavePosition(ui.posCheckBox->isChecked());
    o.SetStartMinimized(ui.minCheckBox->isChecked());
    o.SetOneInstance(ui.oneCheckBox->isChecked());
    o.SetCacheDirectory(ui.cacheEdit->text().toStdString());
    o.SetConfDelete(ui.delCheckBox->isChecked());
    o.SetConfSave(ui.unsavedCheckBox->isChecked());
    o.SetConfQuit(ui.exitCheckBox->isChecked());
    o.SetTrayMinimize(ui.trayCheckBox->isChecked());
    o.SetSingleRestore(ui.singleRadioButton->isChecked());
    o.SetHideIcon(ui.hideCheckBox->isChecked());
    o.SetRestoreKey(ui.restoreHotKey->Shortcut());
    o.SetMenuImages(ui.imgCheckBox->isChecked());
    o.SetInterval(ReadCInteger(ui.intervalEdit->text().toStdString()));
    o.SaveAll();

    // Failures to write the desktop's files are not reported, like the
    // options store's own.
    const platform::ApplicationInfo program = ThisProgram();
    if (ui.startupCheckBox->isChecked()) {
        platform::EnableAutostart(program);
    } else {
        platform::DisableAutostart(program);
    }
    const bool associated = platform::AssociationPresent();
    const bool wanted = ui.monCheckBox->isChecked();
    if (wanted) {
        platform::WriteAssociation(program, ApplicationIcon());
    } else if (associated) {
        platform::RemoveAssociation();
    }
    if (wanted != associated) {
        platform::NotifyAssociationChanged();
    }
    accept();
}

}  // namespace quorvel::gui
