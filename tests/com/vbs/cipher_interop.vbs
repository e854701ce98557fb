' What one library encrypts, the other decrypts.
Dim r : Set r = CreateObject("QelMessage.Renderer")
Dim c : Set c = CreateObject("QelCipher.Cipher")
Dim secret : secret = "Account 42: open sesame"

c.CipherString = secret
c.EnhancedEncrypt
Dim hex : hex = c.CipherString
Check Len(hex) = 128, "23 characters make two blocks: " & Len(hex)
Check r.MyOldDecrypt(hex) = secret, "Renderer decrypts what Cipher encrypted"

c.CipherString = r.MyOldEncrypt(secret)
Check c.CipherString = hex, "both libraries encrypt alike"
c.EnhancedDecrypt
Check c.CipherString = secret, "Cipher decrypts what Renderer encrypted"
Check r.MyOldDecrypt(LCase(hex)) = secret, "lowercase digits are accepted"

Finish "cipher_interop"
