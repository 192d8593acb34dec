// The configuration panel: interlocks, write, presets, read-back and remote commands.
#include <QCheckBox>
#include <QLineEdit>

#include "app/Form1.h"
#include "config/ConfigRead.h"
#include "config/RemoteCommands.h"
#include "transfer/Pacer.h"

namespace vek {

namespace {

const char* const kBuzzerSuffix[3] = {"_IN", "_OUT", "_WH"};

QString checkBoxName(const char* kind, AlertGroup group, const char* suffix) {
    return QStringLiteral("CB_%1_%2%3").arg(kind, groupCode(group), suffix);
}

}  // namespace

QLineEdit* TForm1::editBox(ConfigField field) const {
    return findChild<QLineEdit*>(editBoxName(field));
}

QCheckBox* TForm1::buzzerBox(AlertGroup group, int box) const {
    return findChild<QCheckBox*>(checkBoxName("BZ", group, kBuzzerSuffix[box]));
}

QCheckBox* TForm1::eventBox(AlertGroup group, int box) const {
    return findChild<QCheckBox*>(checkBoxName("EV", group, kBuzzerSuffix[box]));
}

void TForm1::BuzzerClick(AlertGroup group, int box) {
    if (!buzzerBox(group, box)->isChecked())
        return;
    // "Durante" excludes "Entrada" and "Saída".
    if (box == 2) {
        buzzerBox(group, 0)->setChecked(false);
        buzzerBox(group, 1)->setChecked(false);
    } else {
        buzzerBox(group, 2)->setChecked(false);
    }
}

PanelValues TForm1::panelValues() const {
    PanelValues panel;
    panel.pingIndex = ui.CB_PING->currentIndex();
    panel.a232Index = ui.CB_A232->currentIndex();
    panel.b232Index = ui.CB_B232->currentIndex();
    for (int f = 0; f < kConfigFieldCount; ++f)
        panel.edits[f] = editBox(ConfigField(f))->text().toStdString();
    panel.evAcp = ui.CB_EV_ACP->isChecked();
    panel.bzAcp = ui.CB_BZ_ACP->isChecked();
    panel.evAcn = ui.CB_EV_ACN->isChecked();
    panel.bzAcn = ui.CB_BZ_ACN->isChecked();
    for (AlertGroup g : kAlertGroups) {
        GroupAlerts& a = panel.group(g);
        a.evIn = eventBox(g, 0)->isChecked();
        a.evOut = eventBox(g, 1)->isChecked();
        a.bzIn = buzzerBox(g, 0)->isChecked();
        a.bzOut = buzzerBox(g, 1)->isChecked();
        a.bzWh = buzzerBox(g, 2)->isChecked();
    }
    return panel;
}

void TForm1::B_SetConfigClick() {
    const auto encoded = encodeConfigBlock(panelValues());
    if (const auto* rejection = std::get_if<ConfigRejection>(&encoded)) {
        message({QStringLiteral("Erro"), QString::fromStdString(rejection->message),
                 QMessageBox::Warning, QMessageBox::Ok});
        if (rejection->field)
            editBox(*rejection->field)->clear();
        return;
    }
    const auto& config = std::get<EncodedConfig>(encoded);
    configBlock = config.block;
    transferState.Kind = ConfigData;
    transferState.Block = configBlock.data();
    transferState.Length = kConfigBlockSize;
    transferState.Closing = config.closing;
    TxInit();
}

void TForm1::applyPreset(const Preset& preset) {
    ui.CB_PING->setCurrentIndex(preset.pingIndex);
    ui.CB_A232->setCurrentIndex(preset.a232Index);
    ui.CB_B232->setCurrentIndex(preset.b232Index);
    auto setEdit = [&](ConfigField f) {
        editBox(f)->setText(QString::fromUtf8(preset.edits[int(f)]));
    };
    setEdit(ConfigField::ACP);
    ui.CB_EV_ACP->setChecked(preset.evAcp);
    ui.CB_BZ_ACP->setChecked(preset.bzAcp);
    setEdit(ConfigField::ACN);
    ui.CB_EV_ACN->setChecked(preset.evAcn);
    ui.CB_BZ_ACN->setChecked(preset.bzAcn);
    // Each group's values in the order the box lists them, then its check boxes.
    const std::array<std::vector<ConfigField>, 5> groupFields{{
        {ConfigField::VMX, ConfigField::TVMX},
        {ConfigField::VCH, ConfigField::TVCH},
        {ConfigField::RPX, ConfigField::TRPX},
        {ConfigField::TOSC, ConfigField::XOSC},
        {ConfigField::VBGL, ConfigField::RBGL, ConfigField::TBGL},
    }};
    const GroupAlerts& alerts = preset.groupAlerts;
    for (AlertGroup g : kAlertGroups) {
        for (ConfigField f : groupFields[int(g)])
            setEdit(f);
        eventBox(g, 0)->setChecked(alerts.evIn);
        eventBox(g, 1)->setChecked(alerts.evOut);
        buzzerBox(g, 0)->setChecked(alerts.bzIn);
        buzzerBox(g, 1)->setChecked(alerts.bzOut);
        if (preset.setsDuring)
            buzzerBox(g, 2)->setChecked(alerts.bzWh);
    }
}

void TForm1::B_SetDefaultsClick() {
    applyPreset(defaultPreset());
}

void TForm1::B_SetTrevaloClick() {
    applyPreset(trevaloPreset());
}

void TForm1::B_RemConfigClick() {
    const RemoteCommandList list = remoteCommands(panelValues());
    clearLog();
    addLog(QString::fromUtf8(kRemoteCommandsHeading));
    for (const auto& line : list.lines)
        addLog(QString::fromStdString(line));
    for (ConfigField f : list.rejectedFields)
        editBox(f)->clear();
}

void TForm1::B_GetConfigClick() {
    beginConfigRead(transferState);
    ui.ProgressBar1->setMaximum(int(transferState.PacketCount));
    ui.CB_PING->setCurrentIndex(-1);
    ui.CB_A232->setCurrentIndex(-1);
    ui.CB_B232->setCurrentIndex(-1);
    addLog(QStringLiteral("Buscando configuração interna..."));
    Timer3Timer();
}

void TForm1::RequestPackage() {
    if (!VCP.Connected())
        return;
    const std::size_t size =
        buildConfigReadRequest(deviceInfo.configBase, transferState.PacketNo, txBuffer_);
    VCP.Write(txBuffer_.data(), int(size));
}

void TForm1::Timer3Timer() {
    stepPacer(Timer3, &TForm1::RequestPackage, QString::fromUtf8(kReadNoConnectionTitle), [] {
        return MessageBoxRequest{QString::fromUtf8(kReadFailedTitle),
                                 QString::fromUtf8(kReadFailedText), QMessageBox::Warning,
                                 QMessageBox::Ok};
    });
}

void TForm1::applyReadBack() {
    const auto display = decodeConfigBlock(readBackBlock);
    if (display) {
        ui.CB_PING->setCurrentIndex(display->pingIndex);
        ui.CB_A232->setCurrentIndex(display->a232Index);
        ui.CB_B232->setCurrentIndex(display->b232Index);
        for (int f = 0; f < kConfigFieldCount; ++f)
            editBox(ConfigField(f))->setText(QString::fromStdString(display->edits[f]));
        auto set = [](QCheckBox* box, const std::optional<bool>& state) {
            if (state)
                box->setChecked(*state);
        };
        set(ui.CB_BZ_ACP, display->bzAcp);
        set(ui.CB_EV_ACP, display->evAcp);
        set(ui.CB_BZ_ACN, display->bzAcn);
        set(ui.CB_EV_ACN, display->evAcn);
        for (AlertGroup g : kAlertGroups) {
            const ReadBackGroup& shown = display->groups[int(g)];
            for (int box = 0; box < 3 && shown.buzzer; ++box)
                buzzerBox(g, box)->setChecked((*shown.buzzer)[box]);
            for (int box = 0; box < 2 && shown.event; ++box)
                eventBox(g, box)->setChecked((*shown.event)[box]);
        }
        if (display->problems == 0) {
            addLog(QStringLiteral("Leitura da configuração interna concluída!"));
            ui.B_SetConfig->setEnabled(true);
            return;
        }
    }
    addLog(QStringLiteral("Configuração inválida!"), true);
    addLog(QStringLiteral("Preparando configuração padrão..."));
    B_SetDefaultsClick();
    B_SetConfigClick();
}

}  // namespace vek
