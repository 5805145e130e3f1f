#pragma once

#include <QString>
#include <QStringView>

// Reading the cloud disk's answers to a receive: by ordered, exact substring tests. NoAnswer is
// no reading of a reply: the post got none (no connection, a reply cut short or too large, an
// error page that says nothing of the gift), so the code is not to blame.
enum class ReceiveOutcome { NotSignedIn, Received, MembersOnly, UnderReview, Failed, NoAnswer };

// Reads a receive reply by ordered substring tests; the first that occurs decides.
ReceiveOutcome ClassifyReceiveReply(QStringView reply, QStringView successMarker);
// The outcome of a post: its reply read as above, unless no reply came whole or with success
// and nothing in it decided otherwise.
ReceiveOutcome readReceiveReply(QStringView reply, bool replyOk, QStringView successMarker);
// The marker whose test decided the outcome; empty for a failure, which none decides.
QString markerOf(ReceiveOutcome outcome, QStringView successMarker);

// What the user is told about one outcome.
namespace receivetexts {
inline constexpr QStringView kNotSignedIn = u"请您先从上方菜单登录115网盘";
inline constexpr QStringView kReceivedStatus = u"礼包成功接收";
inline constexpr QStringView kReceivedMessage = u"您已成功接收115礼包，现已转存到您的网盘";
inline constexpr QStringView kMembersOnly = u"抱歉,由于115网盘官方限制,接收功能仅限网盘VIP用户使用";
inline constexpr QStringView kUnderReview = u"很抱歉，该礼包码正在审核中，接收失败";
inline constexpr QStringView kFailed = u"接收失败!该礼包码被查封或已失效!";
inline constexpr QStringView kNoAnswer = u"接收失败!无法连接115网盘,请稍后再试";
} // namespace receivetexts
