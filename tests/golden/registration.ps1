$reg = 'HKCU:\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane'
New-Item -Path $reg -Force | Out-Null
Set-ItemProperty -Path $reg -Name DisplayName -Value 'Korvane'
Set-ItemProperty -Path $reg -Name DisplayVersion -Value '0.2.0'
Set-ItemProperty -Path $reg -Name Publisher -Value 'V4LDR1N'
Set-ItemProperty -Path $reg -Name DisplayIcon -Value 'C:\Michał Пётр 田中 O’’Brien ''a‘‘b‚‚c‛‛ %USERNAME% $env:TEMP `t &^ ü 😀\Programs\Korvane\Korvane.exe'
Set-ItemProperty -Path $reg -Name InstallLocation -Value 'C:\Michał Пётр 田中 O’’Brien ''a‘‘b‚‚c‛‛ %USERNAME% $env:TEMP `t &^ ü 😀\Programs\Korvane'
Set-ItemProperty -Path $reg -Name UninstallString -Value ('powershell -NoProfile -WindowStyle Hidden -ExecutionPolicy Bypass -File "C:\Michał Пётр 田中 O’’Brien ''a‘‘b‚‚c‛‛ %USERNAME% $env:TEMP `t &^ ü 😀\Programs\Korvane\Uninstall-Korvane.ps1"')
Set-ItemProperty -Path $reg -Name NoModify -Type DWord -Value 1
Set-ItemProperty -Path $reg -Name NoRepair -Type DWord -Value 1
