' Sends a picture message to two phones through the e-mail gateway.
'   cscript //nologo SendPictureMessage.vbs SMTP-SERVER[:PORT] GATEWAY-MAILBOX PICTURE.jpg
' Through a mail service: submission on port 587 (STARTTLS) with the account
' stored once by the administrator, so no password sits in this script:
'   cmdkey /generic:QelSmtp/smtp.example.com:587 /user:dispatch@example.com /pass:...
'   (under Wine: qel-smtp-credential store smtp.example.com:587 dispatch@example.com)
'   cscript //nologo SendPictureMessage.vbs smtp.example.com:587 gateway@example.com harbour.jpg
Option Explicit

If WScript.Arguments.Count < 3 Then
    WScript.Echo "usage: cscript //nologo SendPictureMessage.vbs SMTP-SERVER[:PORT] GATEWAY-MAILBOX PICTURE.jpg"
    WScript.Quit 2
End If

Dim renderer : Set renderer = CreateObject("QelMessage.Renderer")
renderer.MailServer = WScript.Arguments(0)
renderer.MailAddress = WScript.Arguments(1)
renderer.PictureFile = WScript.Arguments(2)
renderer.ReplyAddress = "dispatch@example.com"
renderer.ReplyName = "Qel Dispatch"
renderer.Account = "acct-001"
renderer.Password = "s3cret"
renderer.Message = "Meeting moved to 3 pm"
renderer.Campaign = "Spring sale"

Dim phone, name
phone = "5550101" : name = "Ann"
renderer.AddRecipient phone, name
phone = "5550102" : name = "Ben"
renderer.AddRecipient phone, name

If Not renderer.GetINetStatus() Then WScript.Echo "Note: the machine does not report itself on line."

Dim result : result = renderer.Send()
WScript.Echo "Send result: " & result
If result <> 0 Then WScript.Echo "ErrorText: " & renderer.ErrorText
WScript.Echo "----- TranslatedMessage -----"
WScript.Echo renderer.TranslatedMessage
WScript.Echo "----- end -----"
WScript.Quit result
