#pragma once

// The codes with which a screen ends to name the next one. A screen's result
// (QDialog::exec) carries the code as its int value; results that name no
// screen (1, 2, unknown values) travel as ScreenCode too.
enum class ScreenCode : int {
    UserConfirmation = -1,
    Greeting = -2,
    AdminMenu = -3,
    UserRegistration = -4,
    UserDeletion = -5,
    UserSelection = -6,
    UserChange = -7,
    GroupRegistration = -8,
    GroupDeletion = -9,
    GroupSelection = -10,
    GroupChange = -11,
    MailSettings = -20,
    OperationSettings = -21,
    MailErrors = -30,
    History = -31,
    Leave = -100,
};

// The result a screen ends with (QDialog::done) to name the screen.
constexpr int resultOf(ScreenCode code) {
    return static_cast<int>(code);
}
// The code a screen's result names.
constexpr ScreenCode screenCodeOf(int result) {
    return static_cast<ScreenCode>(result);
}
