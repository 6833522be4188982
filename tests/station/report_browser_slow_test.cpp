// The report in a real browser: Debian's Chromium, headless, renders the page of the known
// records (report_records.h) to a screenshot that is not blank, and the page asks for nothing:
// Chromium runs without a network (a network namespace of its own, where unshare can make one;
// else behind a proxy on 127.0.0.1 where nothing listens), and its log names no request.

#include "report_records.h"
#include "tests/support/temp_dir.h"
#include "tools/station/report_page.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The URLs Chromium's log says it asked for (its network delegate logs each one at --v=1), but
// those of its own component updater, which asks update.googleapis.com whatever its flags say:
// that request is Chromium's, not the page's.
std::vector<std::string> requests_in(const std::string& log)
{
    const std::string mark = "NotifyBeforeURLRequest: ";
    std::vector<std::string> urls;
    for (std::size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1)) {
        const std::size_t begin = at + mark.size();
        const std::string url = log.substr(begin, log.find('\n', begin) - begin);
        if (url.find("://update.googleapis.com/") == std::string::npos)
            urls.push_back(url);
    }
    return urls;
}

// The colours of the screenshot, counted coarsely (16 levels a channel).
int colours_in(const QImage& image)
{
    QSet<int> colours;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3) {
            const QRgb pixel = image.pixel(x, y);
            colours.insert((qRed(pixel) >> 4) << 8 | (qGreen(pixel) >> 4) << 4 | (qBlue(pixel) >> 4));
        }
    return static_cast<int>(colours.size());
}

} // namespace

TEST(ReportBrowser, ChromiumRendersThePageAndItAsksForNothing)
{
    const QString chromium = QStandardPaths::findExecutable("chromium");
    if (chromium.isEmpty())
        GTEST_SKIP() << "Debian's chromium is not installed (scripts/install-deps.sh installs it)";
    TempWorkDir dir;
    QString error;
    const auto store = open_record_store(dir.path("records.sqlite"), error);
    ASSERT_NE(store, nullptr) << error.toStdString();
    for (const FlashRecord& record : report_records())
        ASSERT_TRUE(store->write(record));
    const auto figures = store->reportFigures(report_period());
    ASSERT_TRUE(figures);
    QFile page(QString::fromStdString(dir.path("report.html")));
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.write(report_page(*figures, report_period(), "Line A", QDateTime::currentDateTime()));
    page.close();

    QStringList args = {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                        "--disable-background-networking", "--disable-component-update", "--disable-sync",
                        "--disable-extensions", "--disable-default-apps", "--hide-scrollbars",
                        "--disable-features=NetworkTimeServiceQuerying,OptimizationHints,MediaRouter",
                        "--enable-logging=stderr", "--v=1",
                        "--user-data-dir=" + QString::fromStdString(dir.path("profile")),
                        "--proxy-server=http://127.0.0.1:9", "--proxy-bypass-list=<-loopback>", "--window-size=1100,1400",
                        "--screenshot=" + QString::fromStdString(dir.path("report.png")),
                        "file://" + QString::fromStdString(dir.path("report.html"))};
    QProcess browser;
    const QString unshare = QStandardPaths::findExecutable("unshare");
    const bool isolated = !unshare.isEmpty() && QProcess::execute(unshare, {"-n", "true"}) == 0;
    if (isolated)
        browser.start(unshare, QStringList{"-n", chromium} + args);
    else
        browser.start(chromium, args);
    ASSERT_TRUE(browser.waitForFinished(120000)) << browser.readAllStandardError().toStdString();
    const std::string log = browser.readAllStandardError().toStdString();

    const QImage shot(QString::fromStdString(dir.path("report.png")));
    ASSERT_FALSE(shot.isNull()) << log;
    EXPECT_EQ(shot.width(), 1100);
    EXPECT_GT(colours_in(shot), 8) << "a blank or one-coloured screenshot";
    EXPECT_NE(log.find("NotifyBeforeURLRequest"), std::string::npos) << "Chromium's log names no request at all";
    EXPECT_EQ(requests_in(log), std::vector<std::string>{});
}
