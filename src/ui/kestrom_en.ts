<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>kestrom::ui::Main</name>
    <message>
        <source>参照</source>
        <translation>…</translation>
    </message>
    <message>
        <source>実行</source>
        <translation>Run</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>タグをコピー後、ＭＰ３データをコピー元と置き換える</source>
        <translation>After tagging, replace the source's MP3 files</translation>
    </message>
    <message>
        <source>コピー元</source>
        <translation>Source</translation>
    </message>
    <message>
        <source>コピー先</source>
        <translation>Target</translation>
    </message>
    <message>
        <source>Kestrom 開発チーム</source>
        <translation>Kestrom team</translation>
    </message>
    <message>
        <source>libvbmp3.so  Kestrom 開発チーム</source>
        <translation>libvbmp3.so  Kestrom team</translation>
    </message>
</context>
<context>
    <name>kestrom::ui::Dialog</name>
    <message>
        <source>フォルダ選択</source>
        <translation>Choose a Folder</translation>
    </message>
    <message>
        <source>ｷｬﾝｾﾙ</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>%1 を開けません。</source>
        <translation>Cannot open %1.</translation>
    </message>
    <message>
        <source>%1 を読み取れません。</source>
        <translation>Cannot read %1.</translation>
    </message>
</context>
<context>
    <name>Kestrom</name>
    <message>
        <source>指定パスの範囲が重複しています。</source>
        <translation>The two folders overlap.</translation>
    </message>
    <message>
        <source>%1なんてフォルダはないよ</source>
        <translation>There is no folder %1</translation>
    </message>
    <message>
        <source>データね～じゃん(-_-ﾒ)</source>
        <translation>The work folder holds no MP3 file.</translation>
    </message>
    <message>
        <source>%1 は別の Kestrom が使用中です</source>
        <translation>%1 is in use by another Kestrom run</translation>
    </message>
    <message>
        <source>%1のフォルダを読めません:%2</source>
        <translation>Cannot read the folder %1:%2</translation>
    </message>
    <message>
        <source>%1のフォルダの変更をディスクに書き込めません:%2</source>
        <translation>Cannot write the changes in the folder %1 to the disk:%2</translation>
    </message>
    <message>
        <source>%1のフォルダに書き込めないため、このフォルダのファイルは処理できません:%2</source>
        <translation>The folder %1 cannot be written, so its files cannot be done:%2</translation>
    </message>
    <message>
        <source>タグライブラリを使えません（%1）</source>
        <translation>Cannot use the tag library (%1)</translation>
    </message>
    <message>
        <source>処理を中断しました。
%1</source>
        <translation>The run stopped.
%1</translation>
    </message>
    <message>
        <source>ファイル名が正しくありません。</source>
        <translation>Bad file name.</translation>
    </message>
    <message>
        <source>ファイルが見つかりません。</source>
        <translation>File not found.</translation>
    </message>
    <message>
        <source>別のプログラムがこのファイルに書き込み中です。</source>
        <translation>Another program is writing to the file.</translation>
    </message>
    <message>
        <source>デバイスの入出力エラーです。</source>
        <translation>Device I/O error.</translation>
    </message>
    <message>
        <source>ファイルは既に存在します。</source>
        <translation>File already exists.</translation>
    </message>
    <message>
        <source>ディスクの空き容量が足りません。</source>
        <translation>Disk full.</translation>
    </message>
    <message>
        <source>書き込みできません。</source>
        <translation>Permission denied.</translation>
    </message>
    <message>
        <source>ディスクの準備ができていません。</source>
        <translation>Disk not ready.</translation>
    </message>
    <message>
        <source>パスまたはファイルにアクセスできません。</source>
        <translation>Path/file access error.</translation>
    </message>
    <message>
        <source>パスが見つかりません。</source>
        <translation>Path not found.</translation>
    </message>
    <message>
        <source>読み取り専用のファイル システムです。</source>
        <translation>The file system is read-only.</translation>
    </message>
    <message>
        <source>移動先は移動元のファイルそのものです。</source>
        <translation>The destination is the source file itself.</translation>
    </message>
    <message>
        <source>MPEG オーディオのファイルではありません。</source>
        <translation>Not an MPEG audio file.</translation>
    </message>
    <message>
        <source>タグがありません。</source>
        <translation>The file has no tag.</translation>
    </message>
    <message>
        <source>タグに正しく写せない部分があります。</source>
        <translation>The tag holds parts that cannot be carried over exactly.</translation>
    </message>
    <message>
        <source>ファイルまたはタグが大きすぎます。</source>
        <translation>The file or its tag is too large.</translation>
    </message>
    <message>
        <source>通常のファイルではありません。</source>
        <translation>Not a plain file.</translation>
    </message>
    <message>
        <source>タグのテキストが長すぎます。</source>
        <translation>A text of the tag is too long.</translation>
    </message>
    <message>
        <source>フォルダに書き込みできません。</source>
        <translation>The folder cannot be written.</translation>
    </message>
    <message>
        <source>見つかりません: %1</source>
        <translation>not found: %1</translation>
    </message>
    <message>
        <source>読み込めません: %1: %2</source>
        <translation>cannot load: %1: %2</translation>
    </message>
</context>
</TS>
