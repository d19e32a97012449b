$running = @(Get-Process -Name Korvane, KorvaneCore -ErrorAction SilentlyContinue)
$running | Stop-Process -Force -ErrorAction SilentlyContinue
$running | Wait-Process -Timeout 5 -ErrorAction SilentlyContinue
Remove-Item -LiteralPath 'C:\Korvane Desk [1] ''Ana'' Łódź 桌面\Desktop\Korvane.lnk' -Force -ErrorAction SilentlyContinue
Remove-Item -LiteralPath 'C:\Korvane Start [Menü] O’’Neil [a-z]\Programs\Korvane' -Recurse -Force -ErrorAction SilentlyContinue
$env:KORVANE_UNINSTALL_DIR = 'C:\Michał Пётр 田中 O’’Brien ''a‘‘b‚‚c‛‛ %USERNAME% $env:TEMP `t &^ ü 😀\Programs\Korvane'
Start-Process cmd -ArgumentList '/d /c ping -n 3 127.0.0.1 >nul & rmdir /s /q "%KORVANE_UNINSTALL_DIR%" & if not exist "%KORVANE_UNINSTALL_DIR%\" reg delete "HKU\S-1-5-21-0-0-0-1000\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane" /f >nul' -WorkingDirectory $env:SystemRoot -WindowStyle Hidden
