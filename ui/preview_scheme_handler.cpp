#include "ui/preview_scheme_handler.h"

#include <QBuffer>
#include <QFile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <string_view>

namespace {

// The page as the pane gets it: first a policy that lets none of the page's own script run (service
// texts reach the preview unescaped), then the file with loading="lazy" in each <img> tag, so an album
// of thousands fetches only the pictures near the view. "<" never occurs inside a GBK character, so the
// bytes are searched as they are. The pane's own scripts run in a world the policy does not cover.
QByteArray ServedPage(const QByteArray& page) {
    const QByteArray lower = page.toLower();  // ASCII letters only: the length stays
    QByteArray served = "<meta http-equiv=\"Content-Security-Policy\" content=\"script-src 'none'\">";
    served.reserve(page.size() + page.size() / 8);
    qsizetype copied = 0;
    for (qsizetype at = lower.indexOf("<img"); at >= 0; at = lower.indexOf("<img", at + 4)) {
        const char next = at + 4 < page.size() ? page[at + 4] : '\0';
        if (std::string_view(" \t\r\n\f/>").find(next) == std::string_view::npos) continue;  // <imgx>
        served.append(page.constData() + copied, at + 4 - copied);
        served += " loading=\"lazy\"";
        copied = at + 4;
    }
    served.append(page.constData() + copied, page.size() - copied);
    return served;
}

}  // namespace

void PreviewSchemeHandler::RegisterScheme() {
    QWebEngineUrlScheme scheme(kScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    // No SecureScheme flag: the page's http pictures must not count as mixed content.
    scheme.setFlags({});
    QWebEngineUrlScheme::registerScheme(scheme);
}

void PreviewSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
    if (job->requestMethod() != "GET") {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    if (!page_.isEmpty()) {
        auto* buffer = new QBuffer(job);
        buffer->setData(ServedPage(page_));
        buffer->open(QIODevice::ReadOnly);
        job->reply("text/html;charset=utf-8", buffer);
        return;
    }
    QFile file(file_);
    if (file_.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    auto* buffer = new QBuffer(job);
    buffer->setData(ServedPage(file.readAll()));
    buffer->open(QIODevice::ReadOnly);
    job->reply("text/html;charset=GBK", buffer);
}
