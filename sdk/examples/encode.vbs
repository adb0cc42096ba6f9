' Encodes a WAV or raw PCM file through the registered KvAudioEncoder classes.
'   cscript //nologo encode.vbs G711A|G711U|G7231|Quorvan INPUT OUTPUT
Option Explicit
If WScript.Arguments.Count <> 3 Then
    WScript.Echo "usage: cscript //nologo encode.vbs G711A|G711U|G7231|Quorvan INPUT OUTPUT"
    WScript.Quit 2
End If
Dim format, inPath, outPath
format = WScript.Arguments(0)
inPath = WScript.Arguments(1)
outPath = WScript.Arguments(2)

Dim reg, rec, enc, sink
Set reg = CreateObject("KvAudioComponents.Registry")
Set rec = CreateObject("KvAudioComponents.Recorder")
reg.Add "KvCom.KvAudio.KvAudioRecorder", rec      ' enter it, so the encoder finds it
Set enc = CreateObject("KvAudioEncoder.KV_Audio" & format)
Set sink = CreateObject("KvAudioComponents.FileSink")
sink.Open outPath                                 ' replaces the file at Close
enc.AddSink sink
rec.CaptureFile inPath, 640                       ' the whole file, 20 ms at a time, on this thread;
                                                  ' at its end the encoder is flushed
enc.RemoveSink sink
sink.Close
WScript.Echo sink.BytesReceived                   ' bytes the sink took in
reg.Remove "KvCom.KvAudio.KvAudioRecorder"
