#pragma once
// Keeps the preview pane to its own page plus pictures over http(s): every other request is blocked.
#include <QWebEngineUrlRequestInterceptor>

class PreviewRequestInterceptor : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT
  public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

    void interceptRequest(QWebEngineUrlRequestInfo& info) override;
};
