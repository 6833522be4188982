#include "upload/progress_form.h"

#include "app/dialogs.h"
#include "app/event_pump.h"
#include "app/fixed_text.h"
#include "app/form_widgets.h"
#include "app/kestrin_form.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <cstdio>

namespace {

// Sets a label's text and lets it grow to fit, as the window's labels size themselves.
void show_text(QLabel* label, std::string_view text)
{
    label->setText(latin1(text));
    label->adjustSize();
}

} // namespace

TProgressForm::TProgressForm(TKestrinForm* main) : QWidget(nullptr), main_(main)
{
    setObjectName("ProgressForm");
    setWindowTitle("Orvalle :- File Upload Progress");
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(430, 154);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
    setFont(pixel_font("Comic Sans MS", 11));
    setStyleSheet("QLabel { color: black; }");
    move(0, 0);

    FileProgressBar = new QProgressBar(this);
    FileProgressBar->setObjectName("FileProgressBar");
    FileProgressBar->setGeometry(8, 40, 417, 25);
    FileProgressBar->setRange(0, 100);
    FileProgressBar->setValue(0);
    FileProgressBar->setTextVisible(false);

    Label1 = make_label(this, "Label1", "TRANSFER STATUS ", 144, 0);
    Label1->setFont(pixel_font("Comic Sans MS", 15));
    Label1->adjustSize();
    Label2 = make_label(this, "Label2", "File Name : ", 8, 80);
    BlockNameLabel = make_label(this, "BlockNameLabel", "", 67, 80);
    Label3 = make_label(this, "Label3", "Checksum :", 8, 104);
    ChecksumLabel = make_label(this, "ChecksumLabel", "", 67, 104);
    Label4 = make_label(this, "Label4", "Load Address :", 216, 104);
    LoadAddressLabel = make_label(this, "LoadAddressLabel", "", 291, 104);
    Label5 = make_label(this, "Label5", "File Path :", 8, 16);
    Label5->hide();
    FilePathLabel = make_label(this, "FilePathLabel", "", 83, 17);
    FilePathLabel->resize(406, FilePathLabel->height());
    FilePathLabel->hide();
    CancelButton = new QPushButton("Cancel", this);
    CancelButton->setObjectName("CancelButton");
    CancelButton->setGeometry(384, 96, 41, 25);
    CancelButton->setEnabled(false);
    CancelButton->hide();
    connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });
    Label6 = make_label(this, "Label6", "File Size", 216, 80);
    FileSizeLabel = make_label(this, "FileSizeLabel", "", 291, 80);
    Label7 = make_label(this, "Label7", "Date Modified:", 8, 128);
    DateModifiedLabel = make_label(this, "DateModifiedLabel", "", 99, 128);
}

void TProgressForm::ShowProgressForm(int32_t blocks)
{
    cancel_flag = 0;
    show();
    show_text(BlockNameLabel, text_of(main_->image_file_name));
    char number[16];
    std::snprintf(number, sizeof number, "%X", static_cast<unsigned>(main_->file_checksum));
    show_text(ChecksumLabel, number);
    show_text(LoadAddressLabel, text_of(main_->load_address_text));
    std::snprintf(number, sizeof number, "%d", static_cast<int>(main_->file_length));
    show_text(FileSizeLabel, number);
    show_text(DateModifiedLabel, text_of(main_->version_text));
    FileProgressBar->setMaximum(blocks > 0 ? blocks : 1);
    pump_events();
}

void TProgressForm::HideProgressForm()
{
    FileProgressBar->setValue(0);
    if (isVisible())
        hide();
    pump_events();
}

void TProgressForm::CancelButtonClick()
{
    cancel_flag = 1;
}

void TProgressForm::StepIt()
{
    FileProgressBar->setValue(std::min(FileProgressBar->value() + 1, FileProgressBar->maximum()));
}
