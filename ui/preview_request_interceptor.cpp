#include "ui/preview_request_interceptor.h"

#include "ui/preview_scheme_handler.h"

void PreviewRequestInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
    const QString scheme = info.requestUrl().scheme();
    if (scheme == QLatin1String(PreviewSchemeHandler::kScheme)) return;
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    const auto type = info.resourceType();
    const bool picture = type == QWebEngineUrlRequestInfo::ResourceTypeImage ||
                         type == QWebEngineUrlRequestInfo::ResourceTypeFavicon;
    if (!(web && picture)) info.block(true);
}
