#include "update/WebViewer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>
#include <utility>

namespace vek {

namespace {

// The text of a reply by its declared character set; undeclared text is taken as UTF-8 when it
// is valid UTF-8 and as Latin-1 otherwise, as a browser's detection would.
QString decodeText(const QByteArray& charset, const QByteArray& body) {
    if (!charset.isEmpty()) {
        if (const auto encoding = QStringConverter::encodingForName(charset.constData())) {
            QStringDecoder decoder(*encoding, QStringConverter::Flag::Stateless);
            return decoder.decode(body);
        }
        return QString::fromLatin1(body);  // windows-1252 and its kin: ASCII plus one byte a char
    }
    // Stateless: a sequence cut off at the end is an error, not held back for more input.
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = utf8.decode(body);
    return utf8.hasError() ? QString::fromLatin1(body) : text;
}

// Escapes as a text node's inner markup does.
QString escapeText(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
            case '&':
                escaped += QLatin1String("&amp;");
                break;
            case '<':
                escaped += QLatin1String("&lt;");
                break;
            case '>':
                escaped += QLatin1String("&gt;");
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

bool startsWithAt(const QString& text, qsizetype at, QLatin1String what) {
    return QStringView(text).mid(at).startsWith(what, Qt::CaseInsensitive);
}

// Where the start tag of the body element begins, skipping comments; -1 if there is none.
qsizetype findBodyTag(const QString& html) {
    for (qsizetype at = html.indexOf(u'<'); at >= 0; at = html.indexOf(u'<', at + 1)) {
        if (startsWithAt(html, at, QLatin1String("<!--"))) {
            at = html.indexOf(QLatin1String("-->"), at + 4);
            if (at < 0)
                return -1;
            continue;
        }
        if (!startsWithAt(html, at, QLatin1String("<body")))
            continue;
        const qsizetype after = at + 5;
        if (after == html.size())
            return -1;
        const QChar next = html[after];
        if (next.isSpace() || next == u'>' || next == u'/')
            return at;
    }
    return -1;
}

// The end of a start tag beginning at `at` (one past its '>'), quotes respected; -1 if open.
qsizetype endOfTag(const QString& html, qsizetype at) {
    QChar quote;
    for (qsizetype i = at + 1; i < html.size(); ++i) {
        const QChar c = html[i];
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'>') {
            return i + 1;
        }
    }
    return -1;
}

WebDocument htmlDocument(const QString& html) {
    const qsizetype tag = findBodyTag(html);
    const qsizetype start = tag < 0 ? -1 : endOfTag(html, tag);
    if (start < 0)
        return WebDocument(QString(), false);
    // A body left open runs to the end of the document.
    qsizetype end = html.lastIndexOf(QLatin1String("</body"), -1, Qt::CaseInsensitive);
    if (end < start)
        end = html.lastIndexOf(QLatin1String("</html"), -1, Qt::CaseInsensitive);
    if (end < start)
        end = html.size();
    return WebDocument(html.mid(start, end - start));
}

// The page shown for a navigation that failed, with a short reason.
WebDocument errorPage(const QString& detail) {
    // Plain words only: no number sign, so no version record can ever be read from it.
    QString page = QStringLiteral("<H1>Não foi possível exibir a página</H1>");
    page += QStringLiteral("<P>") + escapeText(detail) + QStringLiteral("</P>");
    return WebDocument(page);
}

bool hasScheme(const QString& address) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    return scheme.match(address).hasMatch();
}

}  // namespace

WebDocument::WebDocument(QString bodyInnerMarkup, bool hasBody)
    : body_(std::move(bodyInnerMarkup)), hasBody_(hasBody) {}

QString withScheme(const QString& address) {
    return hasScheme(address) ? address : QStringLiteral("http://") + address;
}

CppWebBrowser::CppWebBrowser(QObject* parent)
    : QObject(parent), network_(std::make_unique<QNetworkAccessManager>()) {}

CppWebBrowser::~CppWebBrowser() {
    dropReply();
}

void CppWebBrowser::Stop() {
    if (!reply_)
        return;
    dropReply();
    readyState_ = readyStateUninitialized;
}

void CppWebBrowser::Navigate(const QString& address, int flags) {
    if (flags == 0) {
        if (openExternally)
            openExternally(withScheme(address));
        return;
    }
    dropReply();
    document_.reset();
    readyState_ = readyStateLoading;

    QNetworkRequest request(QUrl(withScheme(address)));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(transferTimeoutMs_);
    if (flags & navNoReadFromCache)
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                             QNetworkRequest::AlwaysNetwork);
    if (flags & navNoWriteToCache)
        request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // Nothing keeps a history, so navNoHistory needs nothing.
    reply_ = network_->get(request);
    connect(reply_, &QNetworkReply::readyRead, this, &CppWebBrowser::readAvailable);
    connect(reply_, &QNetworkReply::finished, this, &CppWebBrowser::finished);
}

void CppWebBrowser::readAvailable() {
    body_ += reply_->read(kMaxBodyBytes + 1 - body_.size());
    if (body_.size() > kMaxBodyBytes)
        complete(errorPage(QStringLiteral("A resposta do servidor é grande demais.")));
}

void CppWebBrowser::finished() {
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() >= 400) {
        complete(errorPage(QStringLiteral("Erro HTTP %1.").arg(status.toInt())));
        return;
    }
    if (reply_->error() != QNetworkReply::NoError) {
        complete(errorPage(
            QStringLiteral("O servidor não pôde ser alcançado ou não respondeu a tempo.")));
        return;
    }
    readAvailable();
    if (reply_)  // not already presented as too large
        complete(documentFromReply(reply_->rawHeader("Content-Type"), body_));
}

void CppWebBrowser::complete(WebDocument document) {
    dropReply();
    document_ = std::make_unique<WebDocument>(std::move(document));
    readyState_ = readyStateComplete;
}

void CppWebBrowser::dropReply() {
    body_.clear();
    QNetworkReply* reply = std::exchange(reply_, nullptr);
    if (!reply)
        return;
    // Disconnected first: aborting emits finished at once.
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

WebDocument CppWebBrowser::documentFromReply(const QByteArray& contentType,
                                             const QByteArray& body) {
    const QList<QByteArray> fields = contentType.split(';');
    const QByteArray mimeType = fields.first().trimmed().toLower();
    QByteArray charset;
    for (const QByteArray& field : fields.mid(1)) {
        const QByteArray parameter = field.trimmed();
        if (parameter.toLower().startsWith("charset="))
            charset = parameter.mid(8).trimmed().replace('"', QByteArray());
    }
    const QString text = decodeText(charset, body);
    if (mimeType == "text/html" || mimeType == "application/xhtml+xml")
        return htmlDocument(text);
    return WebDocument(QStringLiteral("<PRE>") + escapeText(text) + QStringLiteral("</PRE>"));
}

}  // namespace vek
