#include "receive/replies.h"

#include "web/clouddisk.h"

ReceiveOutcome ClassifyReceiveReply(QStringView reply, QStringView successMarker) {
    using namespace clouddisk;
    if (reply.contains(kNotSignedInMarker))
        return ReceiveOutcome::NotSignedIn;
    if (!successMarker.isEmpty() && reply.contains(successMarker))
        return ReceiveOutcome::Received;
    if (reply.contains(kMembersOnlyMarker))
        return ReceiveOutcome::MembersOnly;
    if (reply.contains(kUnderReviewMarker))
        return ReceiveOutcome::UnderReview;
    return ReceiveOutcome::Failed;
}

ReceiveOutcome readReceiveReply(QStringView reply, bool replyOk, QStringView successMarker) {
    const ReceiveOutcome outcome = ClassifyReceiveReply(reply, successMarker);
    return outcome == ReceiveOutcome::Failed && !replyOk ? ReceiveOutcome::NoAnswer : outcome;
}

QString markerOf(ReceiveOutcome outcome, QStringView successMarker) {
    using namespace clouddisk;
    switch (outcome) {
    case ReceiveOutcome::NotSignedIn:
        return kNotSignedInMarker.toString();
    case ReceiveOutcome::Received:
        return successMarker.toString();
    case ReceiveOutcome::MembersOnly:
        return kMembersOnlyMarker.toString();
    case ReceiveOutcome::UnderReview:
        return kUnderReviewMarker.toString();
    case ReceiveOutcome::Failed:
    case ReceiveOutcome::NoAnswer:
        break;
    }
    return {};
}
