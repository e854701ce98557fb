' Raised errors reach the host's Err object with number, source and description.
Sub ExpectError(number, source, description, what)
    Check Err.Number = number, what & ": Err.Number " & Err.Number
    Check Err.Source = source, what & ": Err.Source " & Err.Source
    Check Err.Description = description, what & ": Err.Description " & Err.Description
    Err.Clear
End Sub

Dim r : Set r = CreateObject("QelMessage.Renderer")
Dim c : Set c = CreateObject("QelCipher.Cipher")
Dim x
On Error Resume Next
x = r.MyDecrypt("A")
ExpectError 9, "QelMessage", "Subscript out of range", "MyDecrypt of one digit"
x = r.MyDecrypt("ZZ")
ExpectError 13, "QelMessage", "Type mismatch", "MyDecrypt of a bad pair"
x = r.MyDecrypt("00")
ExpectError 5, "QelMessage", "Invalid procedure call or argument", "MyDecrypt below the key"
x = r.MyEncrypt(Null)
ExpectError 94, "QelMessage", "Invalid use of Null", "MyEncrypt of Null"
x = r.MyOldEncrypt(42)
ExpectError 13, "QelMessage", "Type mismatch", "MyOldEncrypt of a number"
c.CipherString = "ABC"
c.EnhancedDecrypt
ExpectError 9, "QelCipher", "Subscript out of range", "EnhancedDecrypt of odd hex"
On Error GoTo 0
Check c.CipherString = "ABC", "a failed call leaves CipherString"

Finish "raised_errors"
