#include <gtest/gtest.h>

#include "update/WebViewer.h"

namespace vek {
namespace {

struct ReplyCase {
    const char* name;
    QByteArray contentType;
    QByteArray body;
    QString expected;
    bool hasBody = true;
};

class DocumentFromReply : public testing::TestWithParam<ReplyCase> {};

TEST_P(DocumentFromReply, PresentsTheReplyAsABrowserControlWould) {
    const WebDocument document =
        CppWebBrowser::documentFromReply(GetParam().contentType, GetParam().body);
    EXPECT_EQ(document.hasBody(), GetParam().hasBody);
    EXPECT_EQ(document.bodyInnerHtml(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, DocumentFromReply,
    testing::Values(
        ReplyCase{"BodyWithAttributes", "text/html; charset=utf-8",
                  "<html><head><title>v</title></head><body bgcolor=\"#ffffff\" "
                  "onload='if (a > b) go()'>\n<p>rec</p>\n</body></html>",
                  "\n<p>rec</p>\n"},
        ReplyCase{"UpperCaseTagsAndType", "TEXT/HTML", "<HTML><BODY>rec</BODY></HTML>", "rec"},
        ReplyCase{"BodyInACommentIsNotTheBody", "text/html",
                  "<!-- <body>old</body> --><body>rec</body>", "rec"},
        ReplyCase{"LongerTagNameIsNotTheBody", "text/html",
                  "<bodyguard>x</bodyguard><body>rec</body>", "rec"},
        ReplyCase{"BodyLeftOpenEndsWithTheDocument", "text/html", "<html><body>rec</html>", "rec"},
        ReplyCase{"NoBody", "text/html", "<html><head><title>rec</title></head></html>", "", false},
        ReplyCase{"BodyTagNeverClosed", "text/html", "<html><body class=\"x>rec", "", false},
        ReplyCase{"PlainTextIsEscapedIntoPre", "text/plain", "a<b> & c",
                  "<PRE>a&lt;b&gt; &amp; c</PRE>"},
        ReplyCase{"UntypedReplyIsText", "", "<body>rec</body>",
                  "<PRE>&lt;body&gt;rec&lt;/body&gt;</PRE>"},
        ReplyCase{"OtherTypeIsText", "application/octet-stream", "rec", "<PRE>rec</PRE>"},
        ReplyCase{"DeclaredLatin1", "text/plain; charset=ISO-8859-1", "ol\xe1",
                  "<PRE>ol\u00e1</PRE>"},
        ReplyCase{"QuotedCharset", "text/plain; charset=\"utf-8\"", "ol\xc3\xa1",
                  "<PRE>ol\u00e1</PRE>"},
        ReplyCase{"UndeclaredUtf8", "text/plain", "ol\xc3\xa1", "<PRE>ol\u00e1</PRE>"},
        ReplyCase{"UndeclaredBytesThatAreNoUtf8", "text/plain", "ol\xe1", "<PRE>ol\u00e1</PRE>"}),
    [](const auto& info) { return std::string(info.param.name); });

struct SchemeCase {
    const char* name;
    QString address;
    QString expected;
};

class WithScheme : public testing::TestWithParam<SchemeCase> {};

TEST_P(WithScheme, PutsHttpInFrontOnlyWhereThereIsNoScheme) {
    EXPECT_EQ(withScheme(GetParam().address), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, WithScheme,
    testing::Values(SchemeCase{"HostAndPath", "www.norvane.com.br/vek",
                               "http://www.norvane.com.br/vek"},
                    SchemeCase{"HostWithPortLooksLikeAScheme", "localhost:8080/files",
                               "http://localhost:8080/files"},
                    SchemeCase{"AddressWithPort", "127.0.0.1:80/x", "http://127.0.0.1:80/x"},
                    SchemeCase{"HttpKept", "http://a/b", "http://a/b"},
                    SchemeCase{"HttpsKept", "HTTPS://a/b", "HTTPS://a/b"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vek
