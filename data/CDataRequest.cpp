#include "data/CDataRequest.h"

#include "data/CDbAccess.h"
#include "nvktl/CMapStringToString.h"
#include "nvktl/vector.h"

#include <cstring>

namespace {

constexpr int kUnknown = -1;

CString& text(void* const* args, int index) {
    return *static_cast<CString*>(args[index]);
}

bool is(const char* name, const char* command) {
    return std::strcmp(name, command) == 0;
}

// The number of argument objects of a command, or 0 for an unknown name.
int arity(const char* name) {
    if (is(name, "getDefault") || is(name, "getSendLogin"))
        return 1;
    if (is(name, "skipLogin") || is(name, "sendLogin") || is(name, "getAddress"))
        return 2;
    if (is(name, "setMailError"))
        return 5;
    if (is(name, "sendDelivery"))
        return 2;
    if (is(name, "releaseDelivery"))
        return 1;
    if (is(name, "claimDelivery") || is(name, "retryDelivery") || is(name, "failDelivery"))
        return 3;
    if (is(name, "getWaitingCount"))
        return 1;
    return 0;
}

// Every argument object the command needs is there.
bool present(void* const* args, int count) {
    for (int i = 0; i < count; ++i)
        if (args[i] == nullptr)
            return false;
    return true;
}

} // namespace

int CDataRequest::run(const char* name, void* const* args) {
    if (name == nullptr || args == nullptr)
        return kUnknown;
    const int count = arity(name);
    if (count == 0 || !present(args, count))
        return kUnknown;

    if (is(name, "getDefault")) {
        CDbAccess db;
        return db.getDefault(*static_cast<CMapStringToString*>(args[0]));
    }
    if (is(name, "getSendLogin")) {
        CDbAccess db;
        return db.getSendLogin(static_cast<NVKTL::vector<CMapStringToString*>*>(args[0]));
    }
    if (is(name, "skipLogin")) {
        CDbAccess db;
        return db.skipLogin(text(args, 0), text(args, 1));
    }
    if (is(name, "sendLogin")) {
        CDbAccess db;
        return db.sendLogin(text(args, 0), text(args, 1));
    }
    if (is(name, "getAddress")) {
        CDbAccess db;
        return db.getAddress(text(args, 0), text(args, 1));
    }
    if (is(name, "setMailError")) {
        CDbAccess db;
        return db.setMailError(text(args, 0), text(args, 1), text(args, 2), text(args, 3),
                               text(args, 4));
    }
    if (is(name, "claimDelivery")) {
        CDbAccess db;
        return db.claimDelivery(text(args, 0), text(args, 1), text(args, 2));
    }
    if (is(name, "releaseDelivery")) {
        CDbAccess db;
        return db.releaseDelivery(text(args, 0));
    }
    if (is(name, "sendDelivery")) {
        CDbAccess db;
        return db.sendDelivery(text(args, 0), text(args, 1));
    }
    if (is(name, "retryDelivery")) {
        CDbAccess db;
        return db.retryDelivery(text(args, 0), text(args, 1), text(args, 2));
    }
    if (is(name, "failDelivery")) {
        CDbAccess db;
        return db.failDelivery(text(args, 0), text(args, 1), text(args, 2));
    }
    if (is(name, "getWaitingCount")) {
        CDbAccess db;
        *static_cast<int*>(args[0]) = db.getWaitingCount();
        return 0;
    }
    return kUnknown;
}
