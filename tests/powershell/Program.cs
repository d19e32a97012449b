// PowerShell's console host, so that -NoProfile, -WindowStyle, -File and the
// rest are parsed exactly as powershell.exe parses them.
internal static class Program
{
    private static int Main(string[] args) =>
        Microsoft.PowerShell.UnmanagedPSEntry.Start(args, args.Length);
}
