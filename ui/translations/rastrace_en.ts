<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>MatchPanel</name>
    <message>
        <source>容差：</source>
        <translation>Tolerance:</translation>
    </message>
    <message>
        <source>颜色容差：RGB 距离 0 到 442，0 为完全相同</source>
        <translation>Colour tolerance: RGB distance 0 to 442, 0 for exact</translation>
    </message>
    <message>
        <source>去斑(像素)：</source>
        <translation>Speckle:</translation>
    </message>
    <message>
        <source>去掉小于此像素数的斑点并填平小孔，0 为不去斑</source>
        <translation>Removes specks below this many pixels and fills small holes, 0 for none</translation>
    </message>
    <message>
        <source>匹配预览</source>
        <translation>Overlay</translation>
    </message>
    <message>
        <source>显示将被转换的像素</source>
        <translation>Show the pixels that will be converted</translation>
    </message>
    <message>
        <source>适应窗口</source>
        <translation>Fit</translation>
    </message>
    <message>
        <source>缩放到适应窗口（Ctrl+滚轮缩放）</source>
        <translation>Zoom to fit the window (Ctrl+wheel zooms)</translation>
    </message>
    <message>
        <source>原始大小</source>
        <translation>Actual size</translation>
    </message>
    <message>
        <source>背景颜色</source>
        <translation>Background</translation>
    </message>
    <message>
        <source>Shift+Ctrl+左键在图片上拾取背景颜色</source>
        <translation>Shift+Ctrl+left-click the picture to pick a background colour</translation>
    </message>
    <message>
        <source>实板规则</source>
        <translation>Board rule</translation>
    </message>
    <message>
        <source>建议颜色</source>
        <translation>Suggest</translation>
    </message>
    <message>
        <source>列出图片的主要颜色</source>
        <translation>List the picture&apos;s main colours</translation>
    </message>
    <message>
        <source>孔 </source>
        <translation>Hole </translation>
    </message>
    <message>
        <source>实板规则：每个像素按其周围出现的已拾取颜色解释（单色或两色混合），横跨铜线且不宽于 0.4 mm 的浅色丝印算作铜；此时 Alt+Ctrl+左键拾取孔颜色</source>
        <translation>Board rule: each pixel is explained by the picked colours seen around it, alone or as a blend of two, and light print no wider than 0.4 mm across copper counts as copper; Alt+Ctrl+left click then picks a hole colour</translation>
    </message>
</context>
<context>
    <name>TAboutBox</name>
    <message>
        <source>【Rastrace】位图转PCB铜线工具</source>
        <translation>[Rastrace] bitmap to PCB copper tracks</translation>
    </message>
    <message>
        <source>版本：2.04</source>
        <translation>Version: 2.04</translation>
    </message>
    <message>
        <source>本版说明：</source>
        <translation>About this version:</translation>
    </message>
    <message>
        <source>    这一版重新整理了操作界面，修正了已知的各种错误，</source>
        <translation>    This version tidies up the window, fixes the</translation>
    </message>
    <message>
        <source>转换核心全部重新编写。PCB格式和ASC格式的文件直接由</source>
        <translation>known faults and brings a converter written anew.</translation>
    </message>
    <message>
        <source>主窗口输出，原来的插件方式不再使用；同时加入了水平</source>
        <translation>The main window writes PCB and ASC files itself, no</translation>
    </message>
    <message>
        <source>镜像和垂直镜像功能，图片不必再用别的软件翻转。</source>
        <translation>more plug-ins; two mirror buttons flip the picture.</translation>
    </message>
    <message>
        <source>    有问题或想了解更新消息，请到本项目的主页查看。</source>
        <translation>    Questions and news: see the project&apos;s home page.</translation>
    </message>
    <message>
        <source>使用方法：</source>
        <translation>How to use it:</translation>
    </message>
    <message>
        <source>1、点击左上角的“打开图片”按钮，选择要转换的图片；</source>
        <translation>1. Click &quot;Open picture&quot; (top left), choose a picture;</translation>
    </message>
    <message>
        <source>2、按住Ctrl键，用鼠标左键点击图中要输出的颜色，这些</source>
        <translation>2. Hold Ctrl and left-click the colours to output in</translation>
    </message>
    <message>
        <source>   颜色的值会加入左边的颜色列表；选中列表中的一项后</source>
        <translation>   the picture: they join the colour list at the left;</translation>
    </message>
    <message>
        <source>   按住Ctrl键点击鼠标右键，可以把它删除；</source>
        <translation>   select one and Ctrl+right-click to delete it;</translation>
    </message>
    <message>
        <source>3、点击左上角的“转换”按钮，选择PCB或ASC文件名，</source>
        <translation>3. Click &quot;Convert&quot; (top left), choose a PCB or ASC</translation>
    </message>
    <message>
        <source>   转换就开始了。</source>
        <translation>   file name, and the conversion starts.</translation>
    </message>
    <message>
        <source>剩下的时间泡杯茶，看着进度条慢慢走完就好，呵呵。</source>
        <translation>Then have a cup of tea and watch the progress bar.</translation>
    </message>
    <message>
        <source>软件说明：</source>
        <translation>About the program:</translation>
    </message>
    <message>
        <source>    本软件是一个把位图转换成PCB文件的图形工具，主要用于</source>
        <translation>    This program turns bitmaps into PCB files, mainly</translation>
    </message>
    <message>
        <source>抄板。转出的文件可以用Protel的PCB软件直接打开。</source>
        <translation>to copy boards. Protel&apos;s PCB program opens its files.</translation>
    </message>
    <message>
        <source>    X,Y方向分辨率：就是扫描电路板时所用的分辨率；</source>
        <translation>    X, Y resolution: the resolution of the scan;</translation>
    </message>
    <message>
        <source>    保留区颜色：图片中要作为铜线输出的颜色，可以有多个；</source>
        <translation>    Copper colours: the colours output as copper;</translation>
    </message>
    <message>
        <source>    位图不一定要是黑白两色的，彩色图片也可以直接转换。</source>
        <translation>    Colour pictures convert as well as monochrome.</translation>
    </message>
    <message>
        <source>版本历史：</source>
        <translation>Version history:</translation>
    </message>
    <message>
        <source>V2.03  2009/06/21</source>
        <translation>V2.03  2009/06/21</translation>
    </message>
    <message>
        <source>    修正大图片转换时进度条走得不对的问题，</source>
        <translation>    Fixes the progress bar for large pictures,</translation>
    </message>
    <message>
        <source>    转换速度也有所提高。</source>
        <translation>    and converts faster.</translation>
    </message>
    <message>
        <source>V2.02  2009/05/30</source>
        <translation>V2.02  2009/05/30</translation>
    </message>
    <message>
        <source>    加入颜色列表，一次转换可以输出多种颜色。</source>
        <translation>    A colour list: one conversion, many colours.</translation>
    </message>
    <message>
        <source>V2.01  2009/05/02</source>
        <translation>V2.01  2009/05/02</translation>
    </message>
    <message>
        <source>    加入取色功能，保留区颜色可以直接从图片中选取，</source>
        <translation>    Colour picking: copper colours are picked in the</translation>
    </message>
    <message>
        <source>    不用再手工输入颜色值。</source>
        <translation>    picture instead of being typed in.</translation>
    </message>
    <message>
        <source>V2.0   2009/03/15</source>
        <translation>V2.0   2009/03/15</translation>
    </message>
    <message>
        <source>    改用自己编写的转换算法，</source>
        <translation>    A converter of our own, which also converts</translation>
    </message>
    <message>
        <source>    可以转换不是黑白两色的图片。</source>
        <translation>    pictures that are not black and white.</translation>
    </message>
    <message>
        <source>V1.1</source>
        <translation>V1.1</translation>
    </message>
    <message>
        <source>    加入X,Y方向分辨率和线宽的设置，修正层设置的错误。</source>
        <translation>    X, Y resolution and width settings; layer fix.</translation>
    </message>
    <message>
        <source>V1.0</source>
        <translation>V1.0</translation>
    </message>
    <message>
        <source>    第一个版本，只能转换黑白位图。</source>
        <translation>    The first version: black-and-white bitmaps only.</translation>
    </message>
    <message>
        <source>    感谢所有用过本软件并提出意见和建议的朋友，</source>
        <translation>    Thanks to everyone who used this program and sent</translation>
    </message>
    <message>
        <source>有你们的帮助，这个小工具才能一点点变好。</source>
        <translation>ideas: your help made this little tool better.</translation>
    </message>
    <message>
        <source>    本软件可以自由使用和传播，</source>
        <translation>    This program may be used and shared freely,</translation>
    </message>
    <message>
        <source>但请不要用于侵犯他人权益的用途。</source>
        <translation>but not to infringe on the rights of others.</translation>
    </message>
    <message>
        <source>    如果转换结果有问题，请把图片和设置一起发给我们，</source>
        <translation>    If a conversion goes wrong, send us the picture</translation>
    </message>
    <message>
        <source>我们会尽快查找原因。</source>
        <translation>and the settings, and we will look into it soon.</translation>
    </message>
    <message>
        <source>    祝大家抄板顺利！</source>
        <translation>    Happy board copying!</translation>
    </message>
    <message>
        <source>                              Rastrace</source>
        <translation>                              Rastrace</translation>
    </message>
    <message>
        <source>                              发布日期：2009/07/12</source>
        <translation>                              Released: 2009/07/12</translation>
    </message>
    <message>
        <source>                              -- 完 --</source>
        <translation>                              -- End --</translation>
    </message>
    <message>
        <source>软件介绍</source>
        <translation>About Rastrace</translation>
    </message>
</context>
<context>
    <name>TRtcFrmMain</name>
    <message>
        <source>转换完成！</source>
        <translation>Conversion complete!</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>打开图片</source>
        <translation>Open picture</translation>
    </message>
    <message>
        <source>转换</source>
        <translation>Convert</translation>
    </message>
    <message>
        <source>转换成PCB格式</source>
        <translation>PCB format</translation>
    </message>
    <message>
        <source>转换成ASC格式</source>
        <translation>ASC format</translation>
    </message>
    <message>
        <source>水平镜像</source>
        <translation>Mirror H</translation>
    </message>
    <message>
        <source>垂直镜像</source>
        <translation>Mirror V</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>X,Y方向分辨率</source>
        <translation>X, Y resolution (dpi)</translation>
    </message>
    <message>
        <source>保留区颜色设置</source>
        <translation>Copper colours</translation>
    </message>
    <message>
        <source>转出设置</source>
        <translation>Output</translation>
    </message>
    <message>
        <source>转出层：</source>
        <translation>Layer:</translation>
    </message>
    <message>
        <source>线宽(Mil)：</source>
        <translation>Width (mil):</translation>
    </message>
    <message>
        <source>建议颜色</source>
        <translation>Suggested colours</translation>
    </message>
    <message>
        <source>KiCad 电路板 (*.kicad_pcb)</source>
        <translation>KiCad board (*.kicad_pcb)</translation>
    </message>
    <message>
        <source>Gerber 作业 (*.gbrjob)</source>
        <translation>Gerber job (*.gbrjob)</translation>
    </message>
    <message>
        <source>顶层</source>
        <translation>Top</translation>
    </message>
    <message>
        <source>底层</source>
        <translation>Bottom</translation>
    </message>
    <message>
        <source>对齐</source>
        <translation>Align</translation>
    </message>
    <message>
        <source>点对</source>
        <translation>Point pairs</translation>
    </message>
    <message>
        <source>撤销点对</source>
        <translation>Undo pair</translation>
    </message>
    <message>
        <source>网络</source>
        <translation>Nets</translation>
    </message>
    <message>
        <source>打开底层图片...</source>
        <translation>Open the bottom side...</translation>
    </message>
    <message>
        <source>关闭底层图片</source>
        <translation>Close the bottom side</translation>
    </message>
    <message>
        <source>请先为两面都选好铜箔颜色。</source>
        <translation>Pick the copper colours of both sides first.</translation>
    </message>
    <message>
        <source>正在写出电路板...</source>
        <translation>Writing the board...</translation>
    </message>
    <message>
        <source>正在对齐...</source>
        <translation>Aligning...</translation>
    </message>
    <message>
        <source>未能对齐</source>
        <translation>Not aligned</translation>
    </message>
    <message>
        <source>未能对齐：可改用点对</source>
        <translation>Not aligned: click point pairs instead</translation>
    </message>
    <message>
        <source>底层对齐于 %1 个点对，残差 %2 像素 RMS</source>
        <translation>The bottom is aligned on %1 point pairs, residual %2 px RMS</translation>
    </message>
    <message>
        <source>底层对齐于 %1 个孔，残差 %2 像素 RMS</source>
        <translation>The bottom is aligned on %1 holes, residual %2 px RMS</translation>
    </message>
    <message>
        <source>；%1 个网络</source>
        <translation>; %1 nets</translation>
    </message>
    <message>
        <source>网络 %1</source>
        <translation>Net %1</translation>
    </message>
    <message>
        <source>请先点顶层上的点</source>
        <translation>Click the point on the top first</translation>
    </message>
    <message>
        <source>点对：%1（至少 3 对）</source>
        <translation>Point pairs: %1 (at least 3 are needed)</translation>
    </message>
    <message>
        <source>点对：%1，残差 %2 像素 RMS</source>
        <translation>Point pairs: %1, residual %2 px RMS</translation>
    </message>
    <message>
        <source>点对：%1，%2</source>
        <translation>Point pairs: %1, %2</translation>
    </message>
</context>
</TS>
