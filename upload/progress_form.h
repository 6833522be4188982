#pragma once
// TProgressForm: the small window shown while an image file streams to the unit.
//
// It shows the file's path, size, checksum, load address and version (or date) text, taken from
// the main window's image fields, and a bar that advances one step per block sent. It also owns
// cancel_flag, the one request through which every part of the system asks the running upload
// and the running script to stop (1 = stop, 0 = go on).
//
//   ShowProgressForm(blocks)  clears cancel_flag, fills the labels, sets the bar's range to
//                             0..blocks (0..1 when blocks is 0) and shows the window.
//   HideProgressForm()        resets the bar to 0 and hides the window.
//   CancelButtonClick()       sets cancel_flag; the button itself stays hidden and disabled.
//   StepIt()                  advances the bar by one block.
//
// The window is modeless, sits at the top left of the screen and does not disable the main window.

#include <QWidget>

#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;
class TKestrinForm;

class TProgressForm : public QWidget {
    Q_OBJECT

public:
    explicit TProgressForm(TKestrinForm* main);

    void ShowProgressForm(int32_t blocks);
    void HideProgressForm();
    void CancelButtonClick();
    // One step of the bar per block sent; a step past the maximum leaves the bar full.
    void StepIt();

    int32_t cancel_flag = 0;

    QProgressBar* FileProgressBar = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* BlockNameLabel = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* ChecksumLabel = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* LoadAddressLabel = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* FilePathLabel = nullptr;
    QPushButton* CancelButton = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* FileSizeLabel = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* DateModifiedLabel = nullptr;

private:
    TKestrinForm* main_;
};
