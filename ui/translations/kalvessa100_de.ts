<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>CapturePreview</name>
    <message>
        <source>&amp;Preview on Capture File...</source>
        <translation>&amp;Vorschau auf Mitschnittdatei...</translation>
    </message>
    <message>
        <source>Count what the filter the form holds would keep of a capture file (pcap or pcapng), as modelled on this computer. Nothing reaches the tap.</source>
        <translation>Zählt, was der Filter im Formular von einer Mitschnittdatei (pcap oder pcapng) behielte, auf diesem Rechner nachgebildet. Zum Tap gelangt nichts.</translation>
    </message>
    <message>
        <source>Preview on Capture File</source>
        <translation>Vorschau auf Mitschnittdatei</translation>
    </message>
    <message>
        <source>Capture files (*.pcap *.pcapng *.cap)</source>
        <translation>Mitschnittdateien (*.pcap *.pcapng *.cap)</translation>
    </message>
    <message>
        <source>All files (*)</source>
        <translation>Alle Dateien (*)</translation>
    </message>
    <message>
        <source>Reading %1...</source>
        <translation>%1 wird gelesen...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Capture file not previewed</source>
        <translation>Keine Vorschau der Mitschnittdatei</translation>
    </message>
    <message>
        <source>The capture file was not previewed:
%1</source>
        <translation>Für die Mitschnittdatei wurde keine Vorschau erstellt:
%1</translation>
    </message>
    <message>
        <source>1 frame, %1 bytes</source>
        <translation>1 Frame, %1 Bytes</translation>
    </message>
    <message>
        <source>%1 frames, %2 bytes</source>
        <translation>%1 Frames, %2 Bytes</translation>
    </message>
    <message>
        <source>What the filter the form holds would keep of %1:</source>
        <translation>Was der Filter im Formular von %1 behielte:</translation>
    </message>
    <message>
        <source>Kept: %1</source>
        <translation>Behalten: %1</translation>
    </message>
    <message>
        <source>Discarded: %1</source>
        <translation>Verworfen: %1</translation>
    </message>
    <message>
        <source>Undecided: %1, cut short by the capture&apos;s snap length before a compared byte (libpcap&apos;s filter drops such frames, even under &quot;not&quot;)</source>
        <translation>Unentschieden: %1, von der Snap-Länge des Mitschnitts vor einem verglichenen Byte abgeschnitten (der Filter von libpcap verwirft solche Frames, auch unter &quot;not&quot;)</translation>
    </message>
    <message>
        <source>The file ends inside its last record (%1); the frames before it are counted.</source>
        <translation>Die Datei endet mitten in ihrem letzten Eintrag (%1); die Frames davor sind gezählt.</translation>
    </message>
    <message>
        <source>Most frequent kept pairs (approximate: more pairs than can be counted exactly):</source>
        <translation>Häufigste behaltene Paare (geschätzt: mehr Paare, als sich genau zählen lassen):</translation>
    </message>
    <message>
        <source>Most frequent kept pairs:</source>
        <translation>Häufigste behaltene Paare:</translation>
    </message>
    <message>
        <source>%1 -&gt; %2: %3 frames</source>
        <translation>%1 -&gt; %2: %3 Frames</translation>
    </message>
    <message>
        <source>libpcap expression: %1</source>
        <translation>libpcap-Ausdruck: %1</translation>
    </message>
    <message>
        <source>(empty: every frame)</source>
        <translation>(leer: jeder Frame)</translation>
    </message>
    <message>
        <source>This models the tap&apos;s filter: the tap is taken to compare fixed places of untagged Ethernet II frames with a 20-byte IPv4 header at offset 14; a VLAN-tagged frame moves them.</source>
        <translation>Dies bildet den Filter des Taps nach: Angenommen wird, dass der Tap feste Stellen ungetaggter Ethernet-II-Frames mit einem 20 Byte langen IPv4-Kopf ab Byte 14 vergleicht; ein VLAN-Tag verschiebt sie.</translation>
    </message>
</context>
<context>
    <name>CaptureReader</name>
    <message>
        <source>%1 cannot be read as a capture file: %2</source>
        <translation>%1 kann nicht als Mitschnittdatei gelesen werden: %2</translation>
    </message>
    <message>
        <source>%1 is not an Ethernet capture: its link type is %2 (%3), and only Ethernet frames can be compared with the tap&apos;s filter.</source>
        <translation>%1 ist kein Ethernet-Mitschnitt: Sein Link-Typ ist %2 (%3), und nur Ethernet-Frames lassen sich mit dem Filter des Taps vergleichen.</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>unbekannt</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Configures a Kalvessa 100 network tap: its packet filter, timestamps, capture
of CRC-error frames and FCS, and its firmware. The window needs a display.

Talking to the tap needs the capture privilege: with the Debian package, the
members of the group kalvessa have it (see man kalvessa100).
Options of the Qt toolkit, such as -platform, are passed on to it.</source>
        <translation>Konfiguriert einen Kalvessa-100-Netzwerk-Tap: seinen Paketfilter, Zeitstempel, den
Mitschnitt von Frames mit CRC-Fehler und der FCS sowie seine Firmware. Das Fenster
braucht eine Anzeige.

Die Arbeit mit dem Tap braucht das Recht zum Mitschneiden: Mit dem Debian-Paket haben
es die Mitglieder der Gruppe kalvessa (siehe man kalvessa100).
Optionen des Qt-Toolkits wie -platform werden an dieses weitergegeben.</translation>
    </message>
    <message>
        <source>Print this help and exit.</source>
        <translation>Diese Hilfe ausgeben und beenden.</translation>
    </message>
    <message>
        <source>Print the version and exit.</source>
        <translation>Die Version ausgeben und beenden.</translation>
    </message>
    <message>
        <source>This build carries a stand-in firmware image: it is not a release, and its firmware update is for the simulated tap only.</source>
        <translation>Dieser Build enthält ein Platzhalter-Abbild der Firmware: Er ist keine Veröffentlichung, und seine Firmware-Aktualisierung ist nur für den simulierten Tap.</translation>
    </message>
</context>
<context>
    <name>DeviceFailure</name>
    <message>
        <source>probe</source>
        <translation>Erkennung</translation>
    </message>
    <message>
        <source>register %1</source>
        <translation>Register %1</translation>
    </message>
    <message>
        <source>erase of sector %1</source>
        <translation>Löschen von Sektor %1</translation>
    </message>
    <message>
        <source>commit</source>
        <translation>Übernahme</translation>
    </message>
    <message>
        <source>begin</source>
        <translation>Beginn</translation>
    </message>
    <message>
        <source>page %1 of %2</source>
        <translation>Seite %1 von %2</translation>
    </message>
    <message>
        <source>end</source>
        <translation>Abschluss</translation>
    </message>
    <message>
        <source>firmware image</source>
        <translation>Firmware-Abbild</translation>
    </message>
    <message>
        <source>interface</source>
        <translation>Schnittstelle</translation>
    </message>
    <message numerus="yes">
        <source>no reply in %n tries</source>
        <translation>
            <numerusform>keine Antwort nach %n Versuch</numerusform>
            <numerusform>keine Antwort nach %n Versuchen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>no reply after %n sends</source>
        <translation>
            <numerusform>keine Antwort nach %n Sendung</numerusform>
            <numerusform>keine Antwort nach %n Sendungen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 refused %n times</source>
        <translation>
            <numerusform>%1 %n-mal abgelehnt</numerusform>
            <numerusform>%1 %n-mal abgelehnt</numerusform>
        </translation>
    </message>
    <message>
        <source>refused with code %1</source>
        <translation>abgelehnt mit Code %1</translation>
    </message>
    <message>
        <source>cannot capture on the interface: %1</source>
        <translation>kein Mitschnitt auf der Schnittstelle möglich: %1</translation>
    </message>
    <message>
        <source>could not send: %1</source>
        <translation>Senden fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>capture failed: %1</source>
        <translation>Mitschnitt fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>reads back %1 instead of %2</source>
        <translation>liest %1 statt %2 zurück</translation>
    </message>
    <message>
        <source>readings disagree</source>
        <translation>Lesungen stimmen nicht überein</translation>
    </message>
    <message>
        <source>a generation-3 tap cannot be read back</source>
        <translation>ein Tap der Generation 3 kann nicht zurückgelesen werden</translation>
    </message>
    <message>
        <source>%1 bytes do not fit in %2</source>
        <translation>%1 Bytes passen nicht in %2</translation>
    </message>
    <message>
        <source>generation 4 takes firmware through page programming</source>
        <translation>Generation 4 nimmt Firmware über die Seitenprogrammierung an</translation>
    </message>
    <message>
        <source>a generation-3 tap has no commit step</source>
        <translation>ein Tap der Generation 3 hat keinen Übernahmeschritt</translation>
    </message>
    <message>
        <source>no tap is attached</source>
        <translation>kein Tap angeschlossen</translation>
    </message>
    <message>
        <source>%1&apos;s MTU is %2; the tap&apos;s frames need %3: `ip link set dev %1 mtu %3`</source>
        <translation>Die MTU von %1 ist %2; die Frames des Taps brauchen %3: `ip link set dev %1 mtu %3`</translation>
    </message>
    <message>
        <source>%1&apos;s MTU is too small; the tap&apos;s frames need %2: `ip link set dev %1 mtu %2`</source>
        <translation>Die MTU von %1 ist zu klein; die Frames des Taps brauchen %2: `ip link set dev %1 mtu %2`</translation>
    </message>
    <message>
        <source>%1 is down: `ip link set dev %1 up`</source>
        <translation>%1 ist deaktiviert: `ip link set dev %1 up`</translation>
    </message>
    <message>
        <source>%1 went away and did not come back</source>
        <translation>%1 ist verschwunden und nicht zurückgekommen</translation>
    </message>
</context>
<context>
    <name>FileActions</name>
    <message>
        <source>F&amp;ile</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Open Settings...</source>
        <translation>Einstellungen ö&amp;ffnen...</translation>
    </message>
    <message>
        <source>Fill the form with settings from a file. Nothing reaches the tap until Apply or Flash; settings the file leaves out stay as the form shows them.</source>
        <translation>Das Formular mit Einstellungen aus einer Datei füllen. Der Tap erhält sie erst mit Übernehmen oder Dauerhaft speichern; Einstellungen, die die Datei nicht nennt, bleiben, wie das Formular sie zeigt.</translation>
    </message>
    <message>
        <source>&amp;Save Settings As...</source>
        <translation>Einstellungen speichern &amp;unter...</translation>
    </message>
    <message>
        <source>Write the settings the form shows into a file, for this window or kalvessa100ctl.</source>
        <translation>Die Einstellungen, die das Formular zeigt, in eine Datei schreiben, für dieses Fenster oder kalvessa100ctl.</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>Settings not opened</source>
        <translation>Einstellungen nicht geöffnet</translation>
    </message>
    <message>
        <source>The settings file was not opened:
%1

The form is left as it was.</source>
        <translation>Die Einstellungsdatei wurde nicht geöffnet:
%1

Das Formular bleibt, wie es war.</translation>
    </message>
    <message>
        <source>Settings not saved</source>
        <translation>Einstellungen nicht gespeichert</translation>
    </message>
    <message>
        <source>The settings were not saved:
%1</source>
        <translation>Die Einstellungen wurden nicht gespeichert:
%1</translation>
    </message>
    <message>
        <source>Open Settings</source>
        <translation>Einstellungen öffnen</translation>
    </message>
    <message>
        <source>Save Settings As</source>
        <translation>Einstellungen speichern unter</translation>
    </message>
    <message>
        <source>Kalvessa 100 settings (*.json)</source>
        <translation>Kalvessa-100-Einstellungen (*.json)</translation>
    </message>
    <message>
        <source>All files (*)</source>
        <translation>Alle Dateien (*)</translation>
    </message>
</context>
<context>
    <name>FilterExpressionLine</name>
    <message>
        <source>li&amp;bpcap:</source>
        <translation>li&amp;bpcap:</translation>
    </message>
    <message>
        <source>every frame (no capture filter needed)</source>
        <translation>jeder Frame (kein Mitschnittfilter nötig)</translation>
    </message>
    <message>
        <source>Filter as a libpcap expression</source>
        <translation>Filter als libpcap-Ausdruck</translation>
    </message>
    <message>
        <source>The filter as a libpcap expression, for tcpdump or Wireshark&apos;s capture filter on a plain interface. It models the tap&apos;s filter, whose own rule is not documented: the tap is taken to compare fixed places of untagged Ethernet II frames with a 20-byte IPv4 header at offset 14, whatever the EtherType says; a VLAN-tagged frame moves them. A frame too short to hold a compared byte does not match.</source>
        <translation>Der Filter als libpcap-Ausdruck, für tcpdump oder den Mitschnittfilter von Wireshark an einer gewöhnlichen Schnittstelle. Er bildet den Filter des Taps nach, dessen eigene Regel nicht dokumentiert ist: Angenommen wird, dass der Tap feste Stellen ungetaggter Ethernet-II-Frames mit einem 20 Byte langen IPv4-Kopf ab Byte 14 vergleicht, was immer der EtherType sagt; ein VLAN-Tag verschiebt sie. Ein Frame, der zu kurz für ein verglichenes Byte ist, passt nicht.</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Copy the expression to the clipboard.</source>
        <translation>Den Ausdruck in die Zwischenablage kopieren.</translation>
    </message>
</context>
<context>
    <name>FilterFields</name>
    <message>
        <source>Ethernet destination address</source>
        <translation>Ethernet-Zieladresse</translation>
    </message>
    <message>
        <source>Ethernet source address</source>
        <translation>Ethernet-Quelladresse</translation>
    </message>
    <message>
        <source>EtherType</source>
        <translation>EtherType</translation>
    </message>
    <message>
        <source>IPv4 protocol</source>
        <translation>IPv4-Protokoll</translation>
    </message>
    <message>
        <source>IPv4 source address</source>
        <translation>IPv4-Quelladresse</translation>
    </message>
    <message>
        <source>IPv4 destination address</source>
        <translation>IPv4-Zieladresse</translation>
    </message>
    <message>
        <source>%1, byte %2 of %3</source>
        <translation>%1, Byte %2 von %3</translation>
    </message>
</context>
<context>
    <name>FilterPreview</name>
    <message>
        <source>%1 is damaged after frame %2: %3</source>
        <translation>%1 ist nach Frame %2 beschädigt: %3</translation>
    </message>
</context>
<context>
    <name>KeptFramesWriter</name>
    <message>
        <source>%1 cannot be written: %2</source>
        <translation>%1 kann nicht geschrieben werden: %2</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>MAC Address :</source>
        <translation>MAC-Adresse :</translation>
    </message>
    <message>
        <source>Firmware Type :</source>
        <translation>Firmware-Typ :</translation>
    </message>
    <message>
        <source>Firmware Version :</source>
        <translation>Firmware-Version :</translation>
    </message>
    <message>
        <source>&amp;Filter</source>
        <translation>&amp;Filter</translation>
    </message>
    <message>
        <source>Enable Filter</source>
        <translation>Filter einschalten</translation>
    </message>
    <message>
        <source>Ethernet MAC Destination address :</source>
        <translation>Ethernet-MAC-Zieladresse :</translation>
    </message>
    <message>
        <source>Ethernet MAC Source address :</source>
        <translation>Ethernet-MAC-Quelladresse :</translation>
    </message>
    <message>
        <source>Ethernet Type :</source>
        <translation>Ethernet-Typ :</translation>
    </message>
    <message>
        <source>IPv4 Protocol :</source>
        <translation>IPv4-Protokoll :</translation>
    </message>
    <message>
        <source>IPv4 Source address :</source>
        <translation>IPv4-Quelladresse :</translation>
    </message>
    <message>
        <source>IPv4 Destination address :</source>
        <translation>IPv4-Zieladresse :</translation>
    </message>
    <message>
        <source>Keep Filter</source>
        <translation>Treffer behalten</translation>
    </message>
    <message>
        <source>Discard Filter</source>
        <translation>Treffer verwerfen</translation>
    </message>
    <message>
        <source>&amp;Timestamps</source>
        <translation>&amp;Zeitstempel</translation>
    </message>
    <message>
        <source>Enable Timestamps</source>
        <translation>Zeitstempel einschalten</translation>
    </message>
    <message>
        <source>CRC &amp;Errors</source>
        <translation>&amp;CRC-Fehler</translation>
    </message>
    <message>
        <source>Capture CRC error frames</source>
        <translation>Frames mit CRC-Fehler mitschneiden</translation>
    </message>
    <message>
        <source>Capture Frame CRC32 Field (FCS)</source>
        <translation>CRC32-Feld des Frames (FCS) mitschneiden</translation>
    </message>
    <message>
        <source>&amp;Read Current Setup</source>
        <translation>Aktuelle Einstellungen &amp;lesen</translation>
    </message>
    <message>
        <source>&amp;Apply</source>
        <translation>&amp;Übernehmen</translation>
    </message>
    <message>
        <source>F&amp;lash</source>
        <translation>Dauerhaft &amp;speichern</translation>
    </message>
    <message>
        <source>No Kalvessa 100 is attached.</source>
        <translation>Kein Kalvessa 100 angeschlossen.</translation>
    </message>
    <message>
        <source>Waiting for the tap to finish the last request.</source>
        <translation>Der Tap bearbeitet noch die letzte Anfrage.</translation>
    </message>
    <message>
        <source>Kalvessa wordmark</source>
        <translation>Kalvessa-Schriftzug</translation>
    </message>
    <message>
        <source>Choose a tap</source>
        <translation>Tap wählen</translation>
    </message>
    <message>
        <source>The chosen tap&apos;s settings replace them.</source>
        <translation>Die Einstellungen des gewählten Taps ersetzen sie.</translation>
    </message>
    <message>
        <source>The chosen tap cannot be remembered for the next start.</source>
        <translation>Der gewählte Tap kann für den nächsten Start nicht gemerkt werden.</translation>
    </message>
</context>
<context>
    <name>SettingsActions</name>
    <message>
        <source>Settings not acknowledged</source>
        <translation>Einstellungen nicht bestätigt</translation>
    </message>
    <message>
        <source>The tap did not acknowledge the settings (%1), so they may not be in effect. The form shows what is known of the tap&apos;s settings, not what was entered; check the tap&apos;s connection and try again.</source>
        <translation>Der Tap hat die Einstellungen nicht bestätigt (%1); sie sind daher womöglich nicht wirksam. Das Formular zeigt, was von den Einstellungen des Taps bekannt ist, nicht das Eingegebene. Prüfen Sie die Verbindung zum Tap und versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>Read Current Setup</source>
        <translation>Aktuelle Einstellungen lesen</translation>
    </message>
    <message>
        <source>Fill the form with the settings the tap holds.</source>
        <translation>Das Formular mit den Einstellungen aus dem Tap füllen.</translation>
    </message>
    <message>
        <source>A generation-3 tap cannot be read back.</source>
        <translation>Ein Tap der Generation 3 kann nicht zurückgelesen werden.</translation>
    </message>
    <message>
        <source>Send the settings to the tap; they last until it is switched off.</source>
        <translation>Die Einstellungen an den Tap senden; sie gelten bis zum Ausschalten.</translation>
    </message>
    <message>
        <source>Send the settings to the tap and store them there, so they survive a power cycle.</source>
        <translation>Die Einstellungen an den Tap senden und dort speichern, sodass sie das Ausschalten überdauern.</translation>
    </message>
    <message>
        <source>Settings not read: %1</source>
        <translation>Einstellungen nicht gelesen: %1</translation>
    </message>
    <message>
        <source>Settings not acknowledged: %1</source>
        <translation>Einstellungen nicht bestätigt: %1</translation>
    </message>
    <message>
        <source>Applied at %1.</source>
        <translation>Übernommen um %1.</translation>
    </message>
    <message>
        <source>Stored in the tap at %1.</source>
        <translation>Im Tap gespeichert um %1.</translation>
    </message>
    <message>
        <source>Read from the tap at %1.</source>
        <translation>Vom Tap gelesen um %1.</translation>
    </message>
    <message>
        <source>Marked fields are not in the tap yet.</source>
        <translation>Markierte Felder sind noch nicht im Tap.</translation>
    </message>
    <message>
        <source>The form shows what the tap holds.</source>
        <translation>Das Formular zeigt, was der Tap enthält.</translation>
    </message>
    <message>
        <source>Settings not sent</source>
        <translation>Einstellungen nicht gesendet</translation>
    </message>
    <message>
        <source>The settings could not be sent to the tap (%1), so they may not be in effect. The form shows what is known of the tap&apos;s settings, not what was entered.</source>
        <translation>Die Einstellungen konnten nicht an den Tap gesendet werden (%1) und sind daher möglicherweise nicht wirksam. Das Formular zeigt, was über die Einstellungen des Taps bekannt ist, nicht das Eingegebene.</translation>
    </message>
    <message>
        <source>Settings not sent: %1</source>
        <translation>Einstellungen nicht gesendet: %1</translation>
    </message>
    <message>
        <source>Reading the tap&apos;s settings replaces them.</source>
        <translation>Das Lesen der Einstellungen des Taps ersetzt sie.</translation>
    </message>
    <message>
        <source>The marked fields are not in the tap yet. %1

Discard your changes?</source>
        <translation>Die markierten Felder sind noch nicht im Tap. %1

Änderungen verwerfen?</translation>
    </message>
</context>
<context>
    <name>SettingsForm</name>
    <message>
        <source>changed, not in the tap yet</source>
        <translation>geändert, noch nicht im Tap</translation>
    </message>
</context>
<context>
    <name>StatusPanel</name>
    <message>
        <source>Kalvessa 100 found</source>
        <translation>Kalvessa 100 gefunden</translation>
    </message>
    <message>
        <source>Kalvessa 100 not found</source>
        <translation>Kalvessa 100 nicht gefunden</translation>
    </message>
    <message>
        <source>tap found</source>
        <translation>Tap gefunden</translation>
    </message>
    <message>
        <source>tap not found</source>
        <translation>Tap nicht gefunden</translation>
    </message>
    <message>
        <source>Tap not reachable</source>
        <translation>Tap nicht erreichbar</translation>
    </message>
    <message>
        <source>Tap in use by another program (PID %1)</source>
        <translation>Tap wird von einem anderen Programm benutzt (PID %1)</translation>
    </message>
    <message>
        <source>Tap in use by another program</source>
        <translation>Tap wird von einem anderen Programm benutzt</translation>
    </message>
    <message>
        <source>The tap&apos;s answers cannot be told from the network&apos;s traffic; trying again</source>
        <translation>Die Antworten des Taps sind vom Netzwerkverkehr nicht zu unterscheiden; neuer Versuch folgt</translation>
    </message>
    <message>
        <source>The tap cannot be reached</source>
        <translation>Der Tap ist nicht erreichbar</translation>
    </message>
    <message>
        <source>The tap is attached as %1, but this program cannot capture on that interface:
%2

Capturing needs a privilege. With the program installed from its Debian package, join the group &quot;kalvessa&quot; and log in again:
    sudo usermod -aG kalvessa $USER

For a program built from source, grant the privilege to its capture helper alone:
    sudo setcap cap_net_raw=eip %3</source>
        <translation>Der Tap ist als %1 angeschlossen, aber dieses Programm kann auf dieser Schnittstelle nicht mitschneiden:
%2

Der Mitschnitt braucht ein Recht. Ist das Programm aus seinem Debian-Paket installiert, treten Sie der Gruppe „kalvessa“ bei und melden sich neu an:
    sudo usermod -aG kalvessa $USER

Bei einem selbst gebauten Programm erteilen Sie das Recht allein seinem Mitschnitt-Helfer:
    sudo setcap cap_net_raw=eip %3</translation>
    </message>
    <message>
        <source>Status light</source>
        <translation>Statusleuchte</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Fortschritt</translation>
    </message>
    <message>
        <source>Problem</source>
        <translation>Problem</translation>
    </message>
    <message>
        <source>Last action</source>
        <translation>Letzte Aktion</translation>
    </message>
    <message>
        <source>The tap is attached as %1, but cannot be reached through that interface:
%2</source>
        <translation>Der Tap ist als %1 angeschlossen, ist über diese Schnittstelle aber nicht erreichbar:
%2</translation>
    </message>
    <message>
        <source>generation %1</source>
        <translation>Generation %1</translation>
    </message>
    <message>
        <source>firmware %1</source>
        <translation>Firmware %1</translation>
    </message>
    <message>
        <source>in use by another program (PID %1)</source>
        <translation>von einem anderen Programm belegt (PID %1)</translation>
    </message>
    <message>
        <source>in use by another program</source>
        <translation>von einem anderen Programm belegt</translation>
    </message>
    <message>
        <source>%1 - %2</source>
        <translation>%1 - %2</translation>
    </message>
    <message>
        <source>The tap this window works with.</source>
        <translation>Der Tap, mit dem dieses Fenster arbeitet.</translation>
    </message>
    <message>
        <source>Tap :</source>
        <translation>Tap :</translation>
    </message>
    <message>
        <source>Tap</source>
        <translation>Tap</translation>
    </message>
    <message>
        <source>Kalvessa 100 attached, the line is noisy</source>
        <translation>Kalvessa 100 angeschlossen, die Leitung ist gestört</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>unbekannt</translation>
    </message>
</context>
<context>
    <name>TapService</name>
    <message>
        <source>%1; the tap&apos;s answers, addressed to 00:00:00:00:00:00, may never reach this host</source>
        <translation>%1; die Antworten des Taps, adressiert an 00:00:00:00:00:00, erreichen diesen Rechner womöglich nie</translation>
    </message>
</context>
<context>
    <name>UpdateFlow</name>
    <message>
        <source>Updates the tap&apos;s firmware when it needs it.</source>
        <translation>Aktualisiert die Firmware des Taps, wenn nötig.</translation>
    </message>
    <message>
        <source>Update to 4.0</source>
        <translation>Auf 4.0 aktualisieren</translation>
    </message>
    <message>
        <source>Write firmware 4.0 into the tap.</source>
        <translation>Firmware 4.0 in den Tap schreiben.</translation>
    </message>
    <message>
        <source>Firmware up-to-date
Version 4.0</source>
        <translation>Firmware aktuell
Version 4.0</translation>
    </message>
    <message>
        <source>The tap runs firmware 4.0 already.</source>
        <translation>Der Tap hat bereits Firmware 4.0.</translation>
    </message>
    <message>
        <source>Updating...
Do not unplug the adapter</source>
        <translation>Aktualisierung läuft...
Adapter nicht abziehen</translation>
    </message>
    <message>
        <source>The firmware is being written into the tap.</source>
        <translation>Die Firmware wird in den Tap geschrieben.</translation>
    </message>
    <message>
        <source>Unplug the tap and plug it in again to start the new firmware.</source>
        <translation>Tap abziehen und wieder anstecken, um die neue Firmware zu starten.</translation>
    </message>
    <message>
        <source>Update failed
</source>
        <translation>Aktualisierung fehlgeschlagen
</translation>
    </message>
    <message>
        <source>Try the firmware update again.</source>
        <translation>Die Firmware-Aktualisierung erneut versuchen.</translation>
    </message>
    <message>
        <source>Updating: do not unplug the adapter. The program ends afterwards.</source>
        <translation>Aktualisierung läuft: Adapter nicht abziehen. Das Programm endet danach.</translation>
    </message>
    <message>
        <source>Updating: do not unplug the adapter</source>
        <translation>Aktualisierung läuft: Adapter nicht abziehen</translation>
    </message>
    <message>
        <source>Update failed: %1</source>
        <translation>Aktualisierung fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>Not while the firmware is being updated.</source>
        <translation>Nicht während die Firmware aktualisiert wird.</translation>
    </message>
    <message>
        <source>The tap runs firmware %1, version %2.</source>
        <translation>Der Tap hat die Firmware %1, Version %2.</translation>
    </message>
    <message>
        <source>The tap runs a firmware this program does not recognise (shown as version %1).</source>
        <translation>Der Tap hat eine Firmware, die dieses Programm nicht erkennt (angezeigt als Version %1).</translation>
    </message>
    <message>
        <source>The update writes firmware 4.0 into it.</source>
        <translation>Die Aktualisierung schreibt Firmware 4.0 hinein.</translation>
    </message>
    <message>
        <source>This build carries a stand-in firmware image, not the tap&apos;s firmware. Flashing it into a real Kalvessa 100 would leave the tap unusable. Build with the real image (see the README, &quot;Firmware image&quot;) to update a real tap.</source>
        <translation>Dieser Build enthält ein Platzhalter-Abbild, nicht die Firmware des Taps. In einen echten Kalvessa 100 geschrieben, macht es den Tap unbrauchbar. Bauen Sie mit dem echten Abbild (siehe README, „Firmware image“), um einen echten Tap zu aktualisieren.</translation>
    </message>
    <message>
        <source>Keep the tap plugged in until the update has completed: an interrupted update can leave it unusable.</source>
        <translation>Lassen Sie den Tap angesteckt, bis die Aktualisierung abgeschlossen ist: Eine unterbrochene Aktualisierung kann ihn unbrauchbar machen.</translation>
    </message>
    <message>
        <source>Flash the stand-in anyway?</source>
        <translation>Den Platzhalter trotzdem schreiben?</translation>
    </message>
    <message>
        <source>Update the firmware now?</source>
        <translation>Die Firmware jetzt aktualisieren?</translation>
    </message>
    <message>
        <source>Firmware update</source>
        <translation>Firmware-Aktualisierung</translation>
    </message>
    <message>
        <source>Firmware update running</source>
        <translation>Firmware-Aktualisierung läuft</translation>
    </message>
    <message>
        <source>The tap&apos;s firmware is being updated. An interrupted update can leave the tap unusable.

Close anyway? The program ends once the update has finished; do not unplug the tap until then.</source>
        <translation>Die Firmware des Taps wird aktualisiert. Eine unterbrochene Aktualisierung kann den Tap unbrauchbar machen.

Trotzdem schließen? Das Programm endet, sobald die Aktualisierung fertig ist; ziehen Sie den Tap bis dahin nicht ab.</translation>
    </message>
    <message>
        <source>Firmware unknown</source>
        <translation>Firmware unbekannt</translation>
    </message>
    <message>
        <source>The tap&apos;s firmware could not be read; it is asked again every second.</source>
        <translation>Die Firmware des Taps konnte nicht gelesen werden; sie wird jede Sekunde erneut abgefragt.</translation>
    </message>
    <message>
        <source>Update sent
Unplug and replug the tap</source>
        <translation>Update gesendet
Tap aus- und wieder einstecken</translation>
    </message>
    <message>
        <source>Run the update again</source>
        <translation>Update erneut ausführen</translation>
    </message>
    <message>
        <source>The update stopped part way: run it again once the tap is back.</source>
        <translation>Das Update brach vorzeitig ab: Führen Sie es erneut aus, sobald der Tap wieder da ist.</translation>
    </message>
    <message>
        <source>Unplug and replug the tap to start the new firmware</source>
        <translation>Tap aus- und wieder einstecken, um die neue Firmware zu starten</translation>
    </message>
    <message>
        <source>The tap does not run the new firmware: run the update again</source>
        <translation>Der Tap führt die neue Firmware nicht aus: Update erneut ausführen</translation>
    </message>
    <message>
        <source>Update interrupted: %1. The tap may not start until the update is run again.</source>
        <translation>Update unterbrochen: %1. Der Tap startet möglicherweise erst wieder, wenn das Update erneut ausgeführt wurde.</translation>
    </message>
    <message>
        <source>Update interrupted: %1. The tap may not start until the update is run again: plug it in, then run it.</source>
        <translation>Update unterbrochen: %1. Der Tap startet möglicherweise erst wieder, wenn das Update erneut ausgeführt wurde: Tap einstecken, dann das Update ausführen.</translation>
    </message>
    <message>
        <source>The tap answers as firmware 4.0.</source>
        <translation>Der Tap meldet sich mit Firmware 4.0.</translation>
    </message>
    <message>
        <source>Firmware sent at %1, not yet verified.</source>
        <translation>Firmware um %1 gesendet, noch nicht überprüft.</translation>
    </message>
    <message>
        <source>Not until the tap has been unplugged and plugged in again after its update.</source>
        <translation>Erst wenn der Tap nach seinem Update aus- und wieder eingesteckt wurde.</translation>
    </message>
</context>
</TS>
