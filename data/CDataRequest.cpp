#include "data/CDataRequest.h"

#include "data/CDbAccess.h"

namespace {

DataResult stored(int result) {
    return result == 0 ? DataResult::Done : DataResult::Failed;
}

struct Runner {
    CDbAccess& db;

    // Settings and due deliveries: a failed read is an empty answer.
    DataResult operator()(DataRequest::GetDefault& r) const {
        db.getDefault(r.settings);
        return DataResult::Done;
    }
    DataResult operator()(DataRequest::GetSendLogin& r) const {
        db.getSendLogin(&r.rows);
        return DataResult::Done;
    }
    DataResult operator()(DataRequest::GetWaitingCount& r) const {
        r.count = db.getWaitingCount();
        return DataResult::Done;
    }
    DataResult operator()(DataRequest::ClaimDelivery& r) const {
        return stored(db.claimDelivery(r.sendId, r.now, r.until, r.messageId, r.messageDate));
    }
    DataResult operator()(DataRequest::ReleaseDelivery& r) const {
        return stored(db.releaseDelivery(r.sendId));
    }
    DataResult operator()(DataRequest::SendDelivery& r) const {
        return stored(db.sendDelivery(r.sendId, r.sentDate));
    }
    DataResult operator()(DataRequest::RetryDelivery& r) const {
        return stored(db.retryDelivery(r.sendId, r.nextTry, r.errorMessage));
    }
    DataResult operator()(DataRequest::FailDelivery& r) const {
        return stored(db.failDelivery(r.sendId, r.errorDate, r.errorMessage));
    }
};

} // namespace

DataResult runDataRequest(CDataRequest& request) {
    CDbAccess db;
    return std::visit(Runner{db}, request.operation);
}
