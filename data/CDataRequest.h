#pragma once

// The send thread's data commands, run on the user-interface thread by the
// screen that is bound to it.
class CDataRequest {
public:
    // Runs the command name ("getDefault", "getSendLogin", "skipLogin",
    // "sendLogin", "getAddress", "setMailError", "claimDelivery", "sendDelivery",
    // "retryDelivery", "failDelivery", "getWaitingCount" (an int); letter case counts) on a fresh
    // CDbAccess with the argument objects in args, and returns the data
    // operation's result. Any other name, or a missing argument object,
    // returns -1 and touches nothing.
    static int run(const char* name, void* const* args);
};
