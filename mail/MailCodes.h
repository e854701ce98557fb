#pragma once
// Result codes of the mail component, chosen for what actually went wrong;
// the Renderer turns them into words (MailErrorText).
namespace qel::mail {

enum MailCode : int {
    Ok = 0, // this step went well; as Send's answer, the mail was handed over
    MessageNotFormed = 4,
    ConversationRefused = 5,
    SenderRejected = 7,
    RecipientRejected = 8,
    CannotConnect = 9,
    FileNotOpened = 10,
    FileNotRead = 11,
    NoServer = 15,
    ConnectionDropped = 16,
    HostNotResolved = 17,
    UnexpectedReply = 18,
    ThreadNotCreated = 19,
    ResolveTimedOut = 21,
    ConnectTimedOut = 22,
    AuthenticationFailed = 24,
    AuthModeNotSupported = 25,
    AuthProtocolError = 26,
    NoReplyInTime = 27,
};

} // namespace qel::mail
