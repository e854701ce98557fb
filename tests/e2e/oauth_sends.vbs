' OAuth cases through the real mail component, a new one for each send, as
' the Renderer makes them:
'   cscript oauth_sends.vbs SERVER COUNT [TIMEOUT [USER ACCESS-TOKEN]]
' Prints "code N", "detail TEXT" and "seconds S" for each send.
Option Explicit
Dim i, mail, started
For i = 1 To CInt(WScript.Arguments(1))
    Set mail = CreateObject("EasyMail.SMTP")
    If WScript.Arguments.Count > 2 Then mail.Timeout = CInt(WScript.Arguments(2))
    If WScript.Arguments.Count > 4 Then
        mail.UserName = WScript.Arguments(3)
        mail.AccessToken = WScript.Arguments(4)
    End If
    mail.MailServer = WScript.Arguments(0)
    mail.Subject = "oauth case"
    mail.BodyText = "body"
    mail.From = "Dispatch"
    mail.FromAddr = "dispatch@example.com"
    mail.AddRecipient "gateway@example.com", "gateway@example.com", 1
    started = Timer
    WScript.Echo "code " & mail.Send()
    WScript.Echo "seconds " & FormatNumber(Timer - started, 2)
    WScript.Echo "detail " & mail.ErrorDetail
Next
WScript.Echo "done"
