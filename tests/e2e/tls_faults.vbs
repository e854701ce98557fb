' TLS and authentication cases through the real mail component:
'   cscript tls_faults.vbs SERVER [USER PASSWORD]
' Sends one message and prints "code N" and "detail TEXT" for the runner.
'   cscript tls_faults.vbs properties
' Checks the account members as a host sees them and prints "properties ok".
Option Explicit
Dim mail : Set mail = CreateObject("EasyMail.SMTP")
If WScript.Arguments(0) = "properties" Then
    Dim problems : problems = ""
    mail.UserName = "dispatch"
    mail.Password = "correct horse"
    If mail.UserName <> "dispatch" Then problems = problems & " UserName"
    On Error Resume Next
    Dim readBack : readBack = mail.Password
    If Err.Number = 0 Then problems = problems & " Password-readable"
    Err.Clear
    mail.ErrorDetail = "x"
    If Err.Number = 0 Then problems = problems & " ErrorDetail-writable"
    Err.Clear
    mail.Password = 12345
    If Err.Number <> 0 Then problems = problems & " Password-number"
    Err.Clear
    On Error GoTo 0
    If mail.ErrorDetail <> "" Then problems = problems & " ErrorDetail-not-empty"
    mail.Reset
    If mail.UserName <> "" Then problems = problems & " Reset-keeps-UserName"
    If problems = "" Then WScript.Echo "properties ok" Else WScript.Echo "properties wrong:" & problems
    WScript.Quit 0
End If
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
