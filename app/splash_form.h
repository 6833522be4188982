#pragma once
// TSplashForm: the borderless splash window, and the brand of the window captions.
//
// It holds two pictures stacked on each other, OrvalleImage (600 x 400) and ZenwickImage (shown in
// an 800 x 700 window). Building it reads setting line 23 of the configuration file, the brand:
//   0 (or not a number)  Talmont: "Talmont :- ..." captions, the 600 x 400 picture, splash shown
//   100                  Zenwick: "Zenwick :- ..." captions, the 800 x 700 picture, splash shown
//   any other number     plain "Kestrin" captions on the main and progress windows, no splash
//   no line 23           the designed "Orvalle :- ..." captions stay, no splash
// A shown splash stays on top for 600 ms of blocked start-up and then until the start-up sequence
// hides it or the operator clicks OrvalleImage.

#include <QLabel>
#include <QWidget>

class TClientSocketForm;
class TKestrinForm;
class TProgressForm;

// A picture that reports clicks.
class TImage : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

class TSplashForm : public QWidget {
    Q_OBJECT

public:
    TSplashForm(TKestrinForm* main, TProgressForm* progress, TClientSocketForm* clientSocket);

    void OrvalleImageClick();

    TImage* OrvalleImage = nullptr;
    TImage* ZenwickImage = nullptr;

private:
    void ApplyBrand(TKestrinForm* main, TProgressForm* progress, TClientSocketForm* clientSocket);
    void ShowFor600Ms(int width, int height);
};
