' Faults through the real mail component, each with its code:
'   cscript faults.vbs CASE SERVER PICTURE [TIMEOUT [FINAL-REPLY-TIMEOUT [DOMAIN]]]
' CASE names what the server (or the input) does wrong; the script sends one
' message and prints "code N" (the component's answer) and "seconds S" (how
' long Send took) for the runner.
Option Explicit
Dim kind : kind = WScript.Arguments(0)
Dim server : server = WScript.Arguments(1)
Dim picture : picture = WScript.Arguments(2)

If kind = "crlf-in-reply-name" Or kind = "crlf-in-reply-address" Then
    ' Through the Renderer, as a host would: nothing may reach the server.
    Dim r : Set r = CreateObject("QelMessage.Renderer")
    r.MailServer = server
    r.MailAddress = "gateway@example.com"
    r.ReplyName = "Dispatch"
    r.ReplyAddress = "dispatch@example.com"
    If kind = "crlf-in-reply-name" Then r.ReplyName = "Dispatch" & vbCrLf & "Bcc: victim@example.com"
    If kind = "crlf-in-reply-address" Then r.ReplyAddress = "dispatch@example.com>" & vbCrLf & "RCPT TO:<victim@example.com"
    r.Account = "a" : r.Password = "p" : r.Message = "m"
    r.AddRecipient "5550101", "Ann"
    WScript.Echo "result " & r.Send()
    WScript.Echo "ErrorText " & r.ErrorText
    WScript.Quit 0
End If

Dim mail : Set mail = CreateObject("EasyMail.SMTP")
mail.Timeout = 2
If WScript.Arguments.Count > 3 Then mail.Timeout = CInt(WScript.Arguments(3))
If WScript.Arguments.Count > 4 Then mail.FinalReplyTimeout = CInt(WScript.Arguments(4))
If WScript.Arguments.Count > 5 Then mail.Domain = WScript.Arguments(5)
mail.MailServer = server
mail.Subject = "fault"
mail.BodyText = "body"
mail.From = "Dispatch"
mail.FromAddr = "dispatch@example.com"
mail.AddRecipient "gateway@example.com", "gateway@example.com", 1
If kind = "missing-attachment" Then
    WScript.Echo "code " & mail.AddAttachment("Z:\nonexistent\missing.jpg", 0)
    WScript.Quit 0
End If
If kind = "control-in-path" Then
    ' PICTURE exists: cut at the NUL it would be opened, so it must not be.
    WScript.Echo "code " & mail.AddAttachment(picture & Chr(0) & ".jpg", 0) & " " & _
        mail.AddAttachment(picture & Chr(9), 0) & " " & mail.AddAttachment(picture, 0)
    WScript.Quit 0
End If
If picture <> "x" Then mail.AddAttachment picture, 0
Dim started : started = Timer
Dim code : code = mail.Send()
WScript.Echo "code " & code
WScript.Echo "seconds " & Round(Timer - started, 2)
