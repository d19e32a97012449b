Stop-Process -Name Korvane, KorvaneCore -Force -ErrorAction SilentlyContinue
Start-Sleep -Milliseconds 400
Remove-Item "$([Environment]::GetFolderPath('Desktop'))\Korvane.lnk" -Force -ErrorAction SilentlyContinue
Remove-Item "$env:APPDATA\Microsoft\Windows\Start Menu\Programs\Korvane" -Recurse -Force -ErrorAction SilentlyContinue
Remove-Item "HKCU:\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane" -Recurse -Force -ErrorAction SilentlyContinue
$env:KORVANE_UNINSTALL_DIR = 'C:\Michał Пётр 田中 O’’Brien ''a‘‘b‚‚c‛‛ %USERNAME% $env:TEMP `t &^ ü 😀\Programs\Korvane'
Start-Process cmd -ArgumentList '/c timeout /t 1 >nul & rmdir /s /q "%KORVANE_UNINSTALL_DIR%"' -WindowStyle Hidden
