// Shows one local page in a bare QWebEngineView and ends once it has loaded: the floor of the
// desktop program's start-up.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QUrl>
#include <QWebEngineView>

int main(int argc, char** argv) {
    if (geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    const QString page = QDir::current().filePath("floor.htm");
    QFile file(page);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 1;
    file.write(
        "<html><body><div align='center'><table><font size =2>\r\n</font></table></div></body></html>");
    file.close();
    QWebEngineView view;
    view.resize(646, 475);
    QObject::connect(&view, &QWebEngineView::loadFinished, &app, &QApplication::quit);
    view.show();
    view.load(QUrl::fromLocalFile(page));
    return app.exec();
}
