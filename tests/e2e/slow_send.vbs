' One mail through the real mail component to a server whose final reply is slow:
'   cscript slow_send.vbs SERVER PIPELINING TIMEOUT FINAL-REPLY-TIMEOUT
' Prints "code N", "detail TEXT", then "done" for the runner.
Option Explicit
Dim mail : Set mail = CreateObject("EasyMail.SMTP")
mail.Reset
mail.MailServer = WScript.Arguments(0)
mail.Pipelining = (WScript.Arguments(1) = "true")
mail.Timeout = CLng(WScript.Arguments(2))
mail.FinalReplyTimeout = CLng(WScript.Arguments(3))
mail.SessionIdleLimit = 0
mail.Subject = "slow filter case"
mail.BodyText = "held at its end of data"
mail.From = "Dispatch"
mail.FromAddr = "dispatch@example.com"
mail.AddRecipient "gateway@example.com", "Gateway", 1
WScript.Echo "code " & mail.Send()
WScript.Echo "detail " & mail.ErrorDetail
WScript.Echo "done"
WScript.Quit 0
