#include "app/splash_form.h"

#include "app/config_reader.h"
#include "app/event_pump.h"
#include "app/kestrin_form.h"
#include "link/client_socket_form.h"
#include "upload/progress_form.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>

namespace {

constexpr int kTalmontBrand = 0;
constexpr int kZenwickBrand = 100;
constexpr int kSplashMs = 600;

TImage* make_image(QWidget* parent, const char* name, const char* resource, int width, int height)
{
    auto* image = new TImage(parent);
    image->setObjectName(name);
    image->setPixmap(QPixmap(resource));
    image->setScaledContents(true);
    image->setGeometry(0, 0, width, height);
    return image;
}

} // namespace

void TImage::mousePressEvent(QMouseEvent* event)
{
    QLabel::mousePressEvent(event);
    emit clicked();
}

TSplashForm::TSplashForm(TKestrinForm* main, TProgressForm* progress,
                         TClientSocketForm* clientSocket)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName("SplashForm");
    ZenwickImage = make_image(this, "ZenwickImage", ":/zenwick.png", 800, 700);
    OrvalleImage = make_image(this, "OrvalleImage", ":/orvalle.jpg", 600, 400);
    connect(OrvalleImage, &TImage::clicked, this, &TSplashForm::OrvalleImageClick);
    ApplyBrand(main, progress, clientSocket);
}

void TSplashForm::OrvalleImageClick()
{
    hide();
}

void TSplashForm::ApplyBrand(TKestrinForm* main, TProgressForm* progress,
                             TClientSocketForm* clientSocket)
{
    const std::optional<int> brand = read_brand_number(kConfigFileName);
    if (!brand)
        return;
    if (*brand == kTalmontBrand) {
        main->setWindowTitle("Talmont :- Kestrin");
        progress->setWindowTitle("Talmont :- File Upload Progress");
        clientSocket->setWindowTitle("Talmont :- Ethernet Connection");
        ZenwickImage->hide();
        ShowFor600Ms(600, 400);
    } else if (*brand == kZenwickBrand) {
        main->setWindowTitle("Zenwick :- Kestrin");
        progress->setWindowTitle("Zenwick :- File Upload Progress");
        clientSocket->setWindowTitle("Zenwick :- Ethernet Connection");
        OrvalleImage->hide();
        ShowFor600Ms(800, 700);
    } else {
        main->setWindowTitle("Kestrin");
        progress->setWindowTitle("Kestrin");
    }
}

void TSplashForm::ShowFor600Ms(int width, int height)
{
    setFixedSize(width, height);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    pump_events();
    sleep_ms(kSplashMs);
    pump_events();
}
