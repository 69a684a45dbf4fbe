#pragma once

#include "nvktl/CMapStringToString.h"
#include "nvktl/vector.h"

#include <variant>
#include <vector>

// The send thread's data requests: one small struct per operation, carrying
// its typed arguments and, for the reading ones, the place for its answer.
// The worker builds a request and hands it to the screen that is bound to it;
// the user-interface thread runs it (runDataRequest) and the worker reads the
// answer back from the same object.
namespace DataRequest {

struct GetDefault {
    static constexpr const char* name = "getDefault";
    CMapStringToString settings; // filled with every setting
};
struct GetSendLogin {
    static constexpr const char* name = "getSendLogin";
    NVKTL::vector<CMapStringToString*> rows; // the due deliveries; releaseSendLogin frees them
};
struct ClaimDelivery {
    static constexpr const char* name = "claimDelivery";
    CString sendId, now, until;
    // In: the Message-ID and Date (a stamp) for a first try; out: those the
    // delivery keeps, its first try's when it had one.
    CString messageId, messageDate;
};
struct ReleaseDelivery {
    static constexpr const char* name = "releaseDelivery";
    CString sendId;
};
struct SendDelivery {
    static constexpr const char* name = "sendDelivery";
    CString sendId, sentDate;
};
struct RetryDelivery {
    static constexpr const char* name = "retryDelivery";
    CString sendId, nextTry, errorMessage;
};
struct FailDelivery {
    static constexpr const char* name = "failDelivery";
    CString sendId, errorDate, errorMessage;
};
struct GetWaitingCount {
    static constexpr const char* name = "getWaitingCount";
    int count = 0;
};

// The office's daily summary of the day begun at from, up to to: taken only
// when no terminal has taken that day yet.
struct TakeDaySummary {
    static constexpr const char* name = "takeDaySummary";
    CString day, from, to;
    bool taken = false;
    long long visits = 0, sent = 0;
    std::vector<CMapStringToString> problems;
};

} // namespace DataRequest

// One request. A struct, so that the screens' headers can name it without
// the standard headers that moc cannot read.
struct CDataRequest {
    std::variant<DataRequest::GetDefault, DataRequest::GetSendLogin, DataRequest::ClaimDelivery,
                 DataRequest::ReleaseDelivery, DataRequest::SendDelivery,
                 DataRequest::RetryDelivery, DataRequest::FailDelivery,
                 DataRequest::GetWaitingCount, DataRequest::TakeDaySummary>
        operation;
};

// What became of a request. NoWindow is the one answer for a request that no
// screen could serve: nothing was run.
enum class DataResult { Done, Failed, NoWindow };

// Runs the request on a fresh CDbAccess. The reads are Done (an empty answer
// when nothing is there or the file cannot be read); a state write is Done
// only when it was stored.
DataResult runDataRequest(CDataRequest& request);
