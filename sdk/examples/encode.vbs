' Encodes a WAV or raw PCM file through the registered KvAudioEncoder classes.
'   cscript //nologo encode.vbs G711A|G711U|G7231|Quorvan INPUT OUTPUT
Option Explicit
If WScript.Arguments.Count <> 3 Then
    WScript.Echo "usage: cscript //nologo encode.vbs G711A|G711U|G7231|Quorvan INPUT OUTPUT"
    WScript.Quit 2
End If
Dim format, inPath, outPath, chunk
format = WScript.Arguments(0)
inPath = WScript.Arguments(1)
outPath = WScript.Arguments(2)
' G.723.1 codes one frame per piece it is given: hand it one frame each time.
chunk = 640
If UCase(format) = "G7231" Then chunk = 480

Dim reg, rec, enc, sink
Set reg = CreateObject("KvAudioComponents.Registry")
Set rec = CreateObject("KvAudioComponents.Recorder")
reg.Add "KvCom.KvAudio.KvAudioRecorder", rec      ' enter it, so the encoder finds it
Set enc = CreateObject("KvAudioEncoder.KV_Audio" & format)
Set sink = CreateObject("KvAudioComponents.FileSink")
sink.Open outPath                                 ' creates or truncates
enc.AddSink sink
rec.CaptureFile inPath, chunk                     ' the whole file, on this thread
enc.RemoveSink sink
sink.Close
WScript.Echo sink.BytesReceived                   ' bytes the sink took in
reg.Remove "KvCom.KvAudio.KvAudioRecorder"
