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
    // The figures are read before the day is taken, so that a day is
    // never taken without them.
    DataResult operator()(DataRequest::TakeDaySummary& r) const {
        CDbAccess::DaySummary summary;
        NVKTL::vector<CMapStringToString*> rows;
        if (db.getDaySummary(r.from, r.to, summary, &rows) != 0) {
            db.releaseVector(&rows);
            return DataResult::Failed;
        }
        r.visits = summary.visits;
        r.sent = summary.sent;
        for (std::size_t i = 0; i < rows.size(); ++i)
            r.problems.push_back(*rows.at(i));
        db.releaseVector(&rows);
        r.taken = db.claimDaySummary(r.day) == 0;
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
