' A host composes the gateway text of the worked example and reads it back.
Dim r : Set r = CreateObject("QelMessage.Renderer")
Check r.ErrorText = "" And IsEmpty(r.MailServer) And IsEmpty(r.Campaign), "defaults"
Check r.Translate() = 1, "Translate of a new object fails"
Check r.ErrorText = "Invalid message (Empty)", "ErrorText after a failed Translate: " & r.ErrorText

r.Account = "acct-001"
r.Password = "secret"
r.Message = "Meeting moved to 3 pm"
r.Campaign = "Spring sale"
r.ReplyAddress = "reply@example.com"
Dim phone, name
phone = "5550101" : name = "Ann"
r.AddRecipient phone, name
phone = "5550102" : name = "Ben"
r.AddRecipient phone, name
Check r.Translate() = 0, "Translate of the worked example"
Check TypeName(r.Translate()) = "Integer", "Translate returns an Integer"

Dim lines : lines = Split(r.TranslatedMessage, vbCrLf)
Check UBound(lines) = 4, "five lines"
Check lines(0) = "To: 5550101 (Ann), 5550102 (Ben), ", "line 1: " & lines(0)
Check lines(1) = "Message: Meeting moved to 3 pm", "line 2"
Check lines(2) = "=====Start Qel encryption======", "start marker"
Check lines(4) = "=====End Qel encryption======", "end marker"

Dim body
body = "SMS-AccountId:=acct-001" & vbCrLf & "SMS-SecurityKey:=secret" & vbCrLf & "SMS-Version:=1.0.22" & vbCrLf & _
       "SMS-BPID:=0" & vbCrLf & "SMS-Campaign:=Spring sale" & vbCrLf & _
       "SMS-Recp:=5550101" & vbCrLf & "SMS-Recn:=Ann" & vbCrLf & "SMS-Recp:=5550102" & vbCrLf & "SMS-Recn:=Ben" & vbCrLf & _
       "SMS-Body:=Meeting moved to 3 pm" & vbCrLf & "SMS-Name:=reply@example.com" & vbCrLf
Check r.MyDecrypt(lines(3)) = body, "the encrypted block holds the gateway fields"
Check lines(3) = r.MyEncrypt(body), "the block is MyEncrypt of the fields"

Finish "renderer_worked_example"
