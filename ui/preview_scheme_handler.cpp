#include "ui/preview_scheme_handler.h"

#include <QBuffer>
#include <QFile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

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
    QFile file(file_);
    if (file_.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    auto* buffer = new QBuffer(job);
    buffer->setData(file.readAll());
    buffer->open(QIODevice::ReadOnly);
    job->reply("text/html;charset=GBK", buffer);
}
