' TLS and authentication cases through the real mail component:
'   cscript tls_faults.vbs SERVER [USER PASSWORD]
' Sends one message and prints "code N" and "detail TEXT" for the runner.
Option Explicit
Dim mail : Set mail = CreateObject("EasyMail.SMTP")
mail.Timeout = 20
mail.MailServer = WScript.Arguments(0)
If WScript.Arguments.Count > 2 Then
    mail.UserName = WScript.Arguments(1)
    mail.Password = WScript.Arguments(2)
End If
mail.Subject = "tls case"
mail.BodyText = "body"
mail.From = "Dispatch"
mail.FromAddr = "dispatch@example.com"
mail.AddRecipient "gateway@example.com", "gateway@example.com", 1
WScript.Echo "code " & mail.Send()
WScript.Echo "detail " & mail.ErrorDetail
