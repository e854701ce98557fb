' Faults through the real mail component, each with its code:
'   cscript faults.vbs CASE SERVER PICTURE
' CASE names what the server (or the input) does wrong; the script sends one
' message and prints "code N" (the component's answer) for the runner.
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
WScript.Echo "code " & mail.Send()
