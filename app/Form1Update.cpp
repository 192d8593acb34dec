// The online version check and the download offer.
#include "app/Form1.h"

namespace vek {

namespace {
constexpr int kRequestStep = 2;
constexpr int kCheckStep = 6;
constexpr int kRestartStep = 15;
constexpr int kNavigateFresh = CppWebBrowser::navNoHistory | CppWebBrowser::navNoReadFromCache |
                               CppWebBrowser::navNoWriteToCache;
}  // namespace

void TForm1::Timer4Timer() {
    processEvents();
    switch (VersionCheckStep) {
        case kRequestStep:
            CppWebBrowser1.Stop();
            CppWebBrowser1.Navigate(
                QString::fromStdString(versionFileAddress(options_.updateHost.toStdString())),
                kNavigateFresh);
            VersionCheckStep = 3;
            return;
        case kCheckStep:
            break;
        case kRestartStep:
            VersionCheckStep = 0;
            return;
        default:
            ++VersionCheckStep;
            return;
    }

    WebDocument* document = CppWebBrowser1.ReadyState() == 4 ? CppWebBrowser1.Document() : nullptr;
    if (!document) {
        ++VersionCheckStep;
        return;
    }
    // A document without a body counts as a failed check.
    const bool hasBody = document->hasBody();
    const QByteArray body = document->bodyInnerHtml().toLatin1();
    document->close();
    const auto version = hasBody ? parseVersionRecord(body.toStdString()) : std::nullopt;
    if (!version) {
        VersionCheckStep = 0;
        return;
    }
    publishedVersion = *version;
    Timer4.stop();
    if (publishedVersion == kOwnVersion) {
        QFont font = ui.L_Msg->font();
        font.setUnderline(false);
        ui.L_Msg->setFont(font);
        ui.L_Msg->setText(QStringLiteral("O VekTool está atualizado"));
        return;
    }
    DownloadAddress = QString::fromStdString(
        downloadAddress(options_.updateHost.toStdString(), publishedVersion));
    const auto answer = message(
        {QStringLiteral("Atualização VekTool"),
         QStringLiteral("Há uma nova versão do aplicativo VekTool disponível\r\ngostaria de "
                        "fazer o download agora?"),
         QMessageBox::Information, QMessageBox::Yes | QMessageBox::No});
    if (answer == QMessageBox::Yes) {
        CppWebBrowser1.Navigate(DownloadAddress);
        return;
    }
    QFont font = ui.L_Msg->font();
    font.setUnderline(true);
    ui.L_Msg->setFont(font);
    ui.L_Msg->setText(QStringLiteral("Clique aqui para atualizar o VekTool"));
    ui.L_Msg->setStyleSheet(QStringLiteral("color: #0000ff;"));
    msgHoverAttached_ = true;
    msgClickAttached_ = true;
}

void TForm1::L_MsgClick() {
    CppWebBrowser1.Navigate(DownloadAddress);
    msgClickAttached_ = false;
    ui.L_Msg->setText(QString());
}

}  // namespace vek
