#pragma once
// TKestrinForm: Kestrin's main window, and the object that carries the system's logic.
//
// The window shows the script button, the RS-232 group with its four status lamps, the terminal
// view AdTerminal1 and the status line InfoStatusBar, under the menu bar ControllerMainMenu. All of
// the system's logic runs on the user-interface thread as operations of this class; each subsystem
// implements its own operations in its own folder:
//
//   app/      start-up, configuration, closing, layout, Terminal menu, typing
//   script/   script file reader, command dispatcher and commands
//   upload/   image checksum and date, the transfer
//   link/     serial link (finding the unit, prompt wait, reply capture, time-out, keep-alive),
//             serial transmit with flow checks, Ethernet link and its connection dialog
//
// Each subsystem's state is kept together below, under its own heading. Long operations do not use
// threads: they pump the window event queue at fixed points (pump_events) and sleep plain
// milliseconds in between (sleep_ms), because the order of pauses and event processing is part of
// the timing that the unit sees. Operations return 1 for success or "go on" and 0 for failure or
// "stop"; failures inside event handlers reach the waiting operation through flags (cmd_failed,
// and the progress window's cancel_flag).
//
// Every dialog and every status text goes through the dialog seam (app/dialogs.h); the end of the
// process goes through exit_process, which tests replace. An automatic run records what happens
// in run_record, whose outcome is the exit status of an unattended run (app/run_outcome.h).

#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "app/dialogs.h"
#include "app/run_outcome.h"
#include "upload/image_file.h"
#include "upload/image_progress.h"

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QStatusBar;
class QTimer;
class TAdTerminal;
class TApdComPort;
class TApdSLController;
class TApdStatusLight;
class TClientSocket;
class TClientSocketForm;
class TProgressForm;

class TKestrinForm : public QMainWindow {
    Q_OBJECT

public:
    explicit TKestrinForm(QWidget* parent = nullptr);
    ~TKestrinForm() override;

    void SetDialogs(std::unique_ptr<Dialogs> dialogs);
    Dialogs& dialogs() const { return *dialogs_; }
    // Ends the process with the given status; tests replace it.
    std::function<void(int status)> exit_process;

    // ---- Application shell: start-up, configuration, closing (app/startup.cpp) ----------------
    void read_config();
    void show_status(std::string_view text);
    void disable_btns();
    void enable_btns();
    void FormShow();
    void FormCloseQuery(bool& CanClose);
    void ExitMenuClick();
    void JustUploadTimerTimer();
    // Ends the run from outside (a stop signal, the journal's reader gone) as a failed run: an
    // image in flight reported incomplete, the link closed, "result: fail: REASON", status 1.
    void EndRunOnStop(std::string_view reason);
    // The client height of the window: the area below the menu bar, status line included.
    int ClientHeight() const;
    void SetClientHeight(int height);

    // Configuration values
    int32_t ini_com_number = 0;
    std::string auto_script_path;
    bool auto_upload = false;
    bool ethernet_mode = false;
    std::string loader_mode_cmd = "LOADR\r\n";
    std::string upload_cmd_word = "LF";
    std::string script_path;
    uint8_t upload_idle = 1;
    // What happened in a run that ends by itself: its exit status and result line.
    RunRecord run_record;

    // ---- Main window and terminal view (app/terminal_menu.cpp) --------------------------------
    void VisibleMenuClick();
    void BackBlackMenuClick();
    void BackRedMenuClick();
    void BackGreenMenuClick();
    void BackBlueMenuClick();
    void BackWhiteMenuClick();
    void BackDefaultMenuClick();
    void TextBlackMenuClick();
    void TextRedMenuClick();
    void TextGreenMenuClick();
    void TextBlueMenuClick();
    void TextWhiteMenuClick();
    void TextDefaultMenuClick();
    void TerminalFonts1Click();
    void Clear1Click();
    void AdTerminal1DblClick();
    void AdTerminal1KeyPress(char& Key);

    // ---- Script file reader and commands (script/) --------------------------------------------
    void PickButtonClick();
    int read_ini();
    void clear_script_lines();
    int exec_script_line();

    // What became of a collected command line: the run goes on, stops on an error, or is done.
    enum class ScriptLineOutcome { go_on, stop, done };
    ScriptLineOutcome carry_out_script_line(bool ethernet_at_start);
    bool store_script_char(char c, int file_line);
    int end_script_run_on_error();

    // One handler per keyword: the command line in, 1 (go on) or 0 (stop the script) out.
    int cmd_SC(std::string_view line);
    int cmd_TC(std::string_view line);
    int cmd_DM(std::string_view line);
    int cmd_DY(std::string_view line);
    int cmd_LP(std::string_view line);
    int cmd_LC(std::string_view line);
    int cmd_LF(std::string_view line);
    int cmd_LA(std::string_view line);
    int cmd_LV(std::string_view line);
    int cmd_LD(std::string_view line);
    int cmd_PC(std::string_view line);
    int cmd_QC(std::string_view line);
    int cmd_CE(std::string_view line);
    int cmd_CS(std::string_view line);
    int cmd_CN(std::string_view line);
    int cmd_FI(std::string_view line);
    int cmd_DQ(std::string_view line);
    int cmd_DO(std::string_view line);
    int cmd_DC(std::string_view line);
    int cmd_WP(std::string_view line);
    int cmd_LT(std::string_view line);
    bool probe_prompt();
    bool ensure_loader_prompt(std::string_view text);
    using AnswerTest = bool (*)(std::string_view answer, std::string_view text);
    int run_if_answer(std::string_view line, AnswerTest test);
    int run_if_operator_chose(std::string_view line, uint8_t ok);
    int run_nested(std::string_view line, std::string_view command);
    void report_too_many_script_lines();

    static constexpr int kScriptSlots = 300;
    static constexpr int kScriptSlotSize = 210;
    static constexpr int kMaxCommandLineLength = 199;
    char script_lines[kScriptSlots][kScriptSlotSize] = {};
    int32_t script_line_no = 0;
    int32_t script_char_no = 0;
    uint8_t script_done = 0;
    int32_t nesting_depth = 0; // conditional commands whose nested command is running
    std::string ini_open_initial_dir = "..";

    // Command state: lives for the whole program run
    char image_file_name[300] = {};
    char load_address_text[50] = {};
    char version_text[90] = {};
    uint8_t image_file_set = 0;
    uint8_t load_address_set = 0;
    uint8_t version_set = 0;
    char message_buf[404] = {};
    std::string msg_text;
    char query_answer[1000] = {};
    uint8_t dialog_asked = 0;
    uint8_t dialog_ok = 0;
    // How long _WP waits for either prompt before it stops the script.
    int32_t wp_give_up_ms = 300000;

    // ---- Image upload (upload/) ---------------------------------------------------------------
    int get_file_checksum();
    int get_date();
    bool image_unchanged_since_measured();
    void UploadButtonClick();
    void send_image_block(ImageFileReader& image, int32_t count);
    bool image_sum_holds(const ImageFileReader& image);
    void stream_image(ImageFileReader& image);
    void check_prompt_after_upload();
    void image_announced(std::string_view header_line);
    void image_block_sent(int32_t count);
    void image_transfer_ended();

    uint32_t file_checksum = 0;
    int32_t file_length = 0;
    ImageStamp measured_image_stamp; // the file as get_file_checksum found it
    int32_t block_count = 0;
    int32_t post_upload_delay_ms = 4000;
    uint8_t terminal_during_upload = 1;
    ImageProgress image_progress; // for the caller's progress and upload lines

    // ---- Serial link, transmit, Ethernet link (link/) -----------------------------------------
    int32_t check_com(int n);
    int process_com();
    void startup_com();
    void open_ini_com();
    void select_com(int n);
    bool SendCOMCmd_GetPrompt(std::string_view cmd);
    void set_wait_prompt(char c);
    bool link_exists() const;
    void send_cmd();
    void send_cmd_wait_capture(int poll_limit);
    void ApdComPort1TriggerAvail(uint16_t count);
    void CommandTimerTimer();
    void CCHECKTimer1Timer();
    void NoneMenuClick();
    void SearchAllMenuClick();
    void SetBaudFromMenu(int32_t baud);
    void ComCheckBoxClick();
    void SendString(std::string_view s);
    void SendByte(int32_t n, const char* bytes);
    void BindSerialPort();
    void SerialDeviceLost();
    void leave_serial_link();
    bool VerifyPrompt(int n);
    QString com_menu_tool_tip(int n) const;
    void SendBlockOnSerialPort(int32_t n, const char* bytes);
    void SendBlockOnSocket(int32_t n, const char* bytes);
    bool send_whole_block_on_socket(int32_t n, const char* bytes);

    void ClientSocket1Connect();
    void ClientSocket1Read();
    void ClientSocket1Error(int ErrorEvent, int& ErrorCode);
    void EnetConnect1Click();
    void EnetDisconnect1Click();
    void SetTryEnetAgainFlag(bool flag);
    bool ClientSocketTryAgain(bool clear_after);
    void ConnectionTimerTimer();
    void BindClientSocket();
    void VerifyEthernetPrompt();
    void ShowReceivedText(const char* chunk, int count);
    void close_failed_link(std::string_view message, bool stop_run);
    void wait_for_recovery_connection();

    // Prompt, wait and capture state
    char prompt_char1 = '#';
    char prompt_char2 = '>';
    char wait_prompt_char = '\0';
    int32_t prompt_wait_ticks = 400;
    int32_t com_checking = 0;
    uint8_t cmd_failed = 0;
    uint8_t keepalive_on = 1;
    char cmd_buf[400] = {};
    int32_t last_com = 0;
    std::map<int, std::string> port_open_failures; // COM n -> why it last would not open
    uint8_t rx_capture_on = 0;
    char rx_buf[1000] = {};
    int32_t rx_len = 0;
    int32_t rx_min_len = 0;

    // Ethernet link state
    bool connect_pending = false;
    bool try_enet_again = false;
    bool enet_closed = false;
    bool in_socket_error = false;
    bool connect_timed_out = false;
    // From the first image byte until the prompt check after the image: a reconnection then could
    // not tell what the unit took, so a lost connection ends the run instead of being retried.
    bool image_in_flight = false;

    // ---- Controls and components (app/main_window_layout.cpp) ---------------------------------
    QLabel* Label1 = nullptr;
    QLabel* VersionLabel = nullptr;
    QLabel* CODE_NUMLabel = nullptr;
    QPushButton* UploadButton = nullptr;
    QPushButton* PickButton = nullptr;
    QGroupBox* RS232GroupBox = nullptr;
    TApdStatusLight* ApdStatusLight1 = nullptr; // CTS
    TApdStatusLight* ApdStatusLight2 = nullptr; // DCD
    TApdStatusLight* ApdStatusLight3 = nullptr; // RXD
    TApdStatusLight* ApdStatusLight4 = nullptr; // TXD
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* ComNumberLabel = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* ComBaudLabel = nullptr;
    QCheckBox* ComCheckBox = nullptr;
    TAdTerminal* AdTerminal1 = nullptr;
    QStatusBar* InfoStatusBar = nullptr;
    QLabel* InfoStatusText = nullptr; // the status bar's one panel
    QCheckBox* EthernetCheckBox = nullptr;

    QTimer* JustUploadTimer = nullptr;
    QTimer* CommandTimer = nullptr;
    QTimer* ConnectionTimer = nullptr;
    QTimer* CCHECKTimer1 = nullptr;
    TApdComPort* ApdComPort1 = nullptr;
    TApdSLController* ApdSLController1 = nullptr;
    TClientSocket* ClientSocket1 = nullptr;

    // The other windows of the run; set once, right after they are created.
    TProgressForm* ProgressForm = nullptr;
    TClientSocketForm* ClientSocketForm = nullptr;
    QWidget* SplashForm = nullptr;

    // Menu bar ControllerMainMenu
    QAction* ExitMenu = nullptr;
    QMenu* Communication1 = nullptr;
    QMenu* ConfigMenu = nullptr;
    QMenu* COMPortMenu = nullptr;
    QAction* NoneMenu = nullptr;
    QAction* COMMenus[16] = {}; // COM1Menu, COM2Menu, COM31 .. COM36, COM91, COM101, COM111 .. COM161
    QAction* N1 = nullptr;
    QAction* SearchAllMenu = nullptr;
    QMenu* Baud1 = nullptr;
    QAction* BaudMenus[7] = {}; // N12001, N24001, N96001, N192001, N384001, N576001, N1152001
    QMenu* Ethernet1 = nullptr;
    QAction* EnetDisconnect1 = nullptr;
    QAction* EnetConnect1 = nullptr;
    QMenu* Terminal1 = nullptr;
    QAction* VisibleMenu = nullptr;
    QMenu* BackgroundColor1 = nullptr;
    QAction* BackBlackMenu = nullptr;
    QAction* BackRedMenu = nullptr;
    QAction* BackGreenMenu = nullptr;
    QAction* BackBlueMenu = nullptr;
    QAction* BackWhiteMenu = nullptr;
    QAction* N2 = nullptr;
    QAction* BackDefaultMenu = nullptr;
    QMenu* ForegroundColor1 = nullptr;
    QAction* TextBlackMenu = nullptr;
    QAction* TextRedMenu = nullptr;
    QAction* TextGreenMenu = nullptr;
    QAction* TextBlueMenu = nullptr;
    QAction* TextWhiteMenu = nullptr;
    QAction* N3 = nullptr;
    QAction* TextDefaultMenu = nullptr;
    QAction* TerminalFonts1 = nullptr;
    QAction* Clear1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls(QWidget* client);
    void BuildMenus();
    void BuildComponents();
    void ConnectHandlers();
    void FollowVisibleTick();
    void ApplyConfigSettings(const struct ConfigSettings& settings);
    void RunAutomaticScript();
    void EndProcess();

    std::unique_ptr<Dialogs> dialogs_;
    QWidget* client_ = nullptr;
    int terminal_listener_ = 0;
    bool shown_once_ = false;
};
