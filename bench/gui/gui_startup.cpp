// Start-up of albumbrowser until its first preview page has loaded, against a bare web view showing
// one local page. Both programs end at that point; the figures are medians of wall-clock runs.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double RunMs(const QString& program, const QString& folder) {
    QProcess process;
    process.setWorkingDirectory(folder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains("DISPLAY") && !env.contains("WAYLAND_DISPLAY"))
        env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ALBUMBROWSER_EXIT_AFTER_FIRST_PAGE", "1");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, {});
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    QTemporaryDir folder;
    QFile config(QDir(folder.path()).filePath("config.ini"));
    config.open(QIODevice::WriteOnly);
    config.write("[users]\r\nuser0=demo\r\n");
    config.close();
    std::vector<double> program, floor;
    // One unmeasured run of each warms the file cache.
    RunMs(ALBUMBROWSER_PATH, folder.path());
    RunMs(BARE_WEBVIEW_PATH, folder.path());
    for (int i = 0; i < runs; ++i) {
        program.push_back(RunMs(ALBUMBROWSER_PATH, folder.path()));
        floor.push_back(RunMs(BARE_WEBVIEW_PATH, folder.path()));
    }
    const double p = Median(program), f = Median(floor);
    std::printf("runs: %d\n", runs);
    std::printf("albumbrowser_first_page_ms: %.1f\n", p);
    std::printf("bare_webview_first_page_ms: %.1f\n", f);
    std::printf("ratio_vs_bare_webview: %.2f\n", p / f);
    return 0;
}
