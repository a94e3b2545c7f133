#!/usr/bin/env python3
"""Writes the demo catalog: bootstrap.json and icons/ beside this script.

  generate.py            bootstrap.json and every icon (icons need ImageMagick's convert
                         and the Noto Sans CJK font, both from Debian)
  generate.py --no-icons bootstrap.json only

An installer placed at packages/<id>/<file name> gives that application its real size and
MD5 digest; applications without one keep the announced figures below. The output is
deterministic, so regenerating without changes leaves the files as they are.
"""
import argparse
import datetime
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
FONT = "/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc"

# Sidebar order. Each name carries a keyword that picks its glyph; the first has none.
CATEGORIES = [
    ("essentials", "装机必备"),
    ("security", "安全杀毒"),
    ("chat", "聊天社交"),
    ("browser", "浏览器"),
    ("media", "影音播放"),
    ("office", "办公文档"),
    ("input", "输入法"),
    ("archive", "压缩解压"),
    ("system", "系统工具"),
    ("driver", "驱动硬件"),
    ("remote", "远程控制"),
    ("backup", "数据备份"),
    ("games", "游戏娱乐"),
    ("photo", "图片看图"),
    ("video", "剪辑录屏"),
    ("ai", "AI智能助手"),
    ("design", "设计绘图"),
]

MB = 1024 * 1024

# id, name, version as the publisher writes it, categories, description, icon kind
# ("png", "ico", None for no icon, "missing" for a path the server does not have),
# announced package size, downloads, last update (UTC date), has a package, icon colours.
APPS = [
    (1001, "星盾安全卫士", "13.1.0.1042", ["security", "essentials"], "实时防护、木马查杀与漏洞修复，一键体检电脑健康", "ico", 88 * MB + 312, 48213907, "2024-11-28", True, ("#2F6BFF", "#1B3FBF")),
    (1002, "灵犀杀毒", "V6.2 正式版", ["security"], "轻量级杀毒引擎，查杀快、占用低，游戏时自动免打扰", "png", 42 * MB + 77, 9821456, "2024-10-15", True, ("#00A36C", "#007A50")),
    (1003, "隐私粉碎机", "2.4", ["security", "system"], "彻底擦除敏感文件与浏览痕迹，防止数据被恢复", None, 6 * MB + 514, 532870, "2024-06-02", True, ("#555E6E", "#2D333D")),
    (1004, "飞鸽聊天", "3.9.10.27", ["chat", "essentials"], "多人群聊、语音视频通话与文件快传，电脑手机消息同步", "ico", 216 * MB + 2048, 120583311, "2024-12-02", True, ("#1AAD19", "#0E7F0D")),
    (1005, "企鹅办公通", "4.1.8", ["chat", "office"], "企业即时通讯与日程审批，支持万人组织架构", "png", 187 * MB + 4400, 23104877, "2024-11-20", True, ("#2D8CF0", "#1660B8")),
    (1006, "声浪语音", "2.0.6 beta", ["chat", "games"], "开黑语音房间，低延迟高清音质，内置变声与降噪", "png", 74 * MB + 920, 6112094, "2024-09-09", True, ("#8C54FF", "#5B2FD1")),
    (1007, "蓝鲸浏览器", "126.0.6478.127", ["browser", "essentials"], "双核极速内核，智能拦截广告，标签页多了也不卡", "ico", 135 * MB + 61, 77329018, "2024-11-30", True, ("#0091B2", "#005F7A")),
    (1008, "极光浏览器", "11.2", ["browser"], "注重隐私的轻快浏览器，默认禁止第三方跟踪", "png", 98 * MB + 17, 3802215, "2024-08-18", True, ("#FF7A2F", "#D94E0B")),
    (1009, "网页翻译助手", "1.5.3", ["browser", "ai"], "划词即译、整页对照翻译，支持二十余种语言", None, 12 * MB + 33, 1209388, "2024-07-21", False, ("#3E7BFA", "#2350C2")),
    (1010, "青柠播放器", "5.6.2.3180", ["media", "essentials"], "全格式高清播放，4K 硬件解码，字幕自动匹配", "ico", 63 * MB + 4096, 58207766, "2024-11-11", True, ("#8FD14F", "#4E9A1E")),
    (1011, "云帆音乐", "3.0.1", ["media"], "千万正版曲库，无损音质与歌词同步，私人电台每日推荐", "png", 118 * MB + 5, 40981320, "2024-10-28", True, ("#E8586C", "#B22E44")),
    (1012, "小熊电台", "1.8", ["media"], "海量有声书、相声评书与广播电台，支持定时关闭", "missing", 35 * MB + 811, 2380516, "2024-05-30", True, ("#F5A623", "#C77C00")),
    (1013, "墨竹 Office", "2024 版 12.1.0.16120", ["office", "essentials"], "文字、表格、演示三合一，完美兼容常见文档格式", "ico", 236 * MB + 3072, 99213344, "2024-12-01", True, ("#D93025", "#A1170F")),
    (1014, "知行笔记", "7.3.5", ["office"], "随手记录、多端同步，支持 Markdown 与手写批注", "png", 89 * MB + 222, 12873001, "2024-11-05", True, ("#4691FA", "#2162C9")),
    (1015, "PDF 转换大师", "6.0.2", ["office"], "PDF 与 Word、Excel、图片互相转换，批量处理不限页数", "png", 54 * MB + 100, 8632190, "2024-09-26", True, ("#FF4D4F", "#C41D1F")),
    (1016, "百川思维导图", "10.4", ["office", "design"], "脑图、流程图与组织结构图，海量模板一键套用", None, 77 * MB + 13, 2016733, "2024-08-08", False, ("#13C2C2", "#08898A")),
    (1017, "晨曦拼音输入法", "6.13.0.8841", ["input", "essentials"], "智能组词、云端词库与表情联想，打字又快又准", "ico", 48 * MB + 2000, 65432109, "2024-11-26", True, ("#788291", "#4A5261")),
    (1018, "远山五笔", "3.2", ["input"], "经典 86 与 98 版五笔，支持五笔拼音混输", "png", 18 * MB + 640, 4320981, "2024-04-17", True, ("#6B7A8F", "#3F4B5C")),
    (1019, "飞速压缩", "24.08", ["archive", "essentials"], "支持 zip、rar、7z 等数十种格式，右键即可解压", "ico", 3 * MB + 500, 38720055, "2024-10-02", True, ("#D29132", "#A0640F")),
    (1020, "极速Zip", "3.1.1.5", ["archive"], "小巧的压缩工具，多线程压缩，可设密码与分卷", "png", 2 * MB + 900, 5120984, "2024-07-12", True, ("#E5A83B", "#B97A12")),
    (1021, "银河电脑管家", "15.0.21", ["system", "essentials"], "垃圾清理、开机加速与软件管理，让旧电脑焕然一新", "ico", 95 * MB + 4321, 30118762, "2024-11-18", True, ("#606C80", "#394252")),
    (1022, "C盘瘦身工具", "2.3.0", ["system"], "找出大文件与重复文件，安全迁移，C 盘告别爆红", "png", 9 * MB + 12, 7349810, "2024-10-10", True, ("#2BB673", "#168553")),
    (1023, "网速测速", "1.2", ["system"], "测量宽带上下行速度与延迟，生成网络质量报告", None, 4 * MB + 77, 890123, "2024-03-03", True, ("#1E90FF", "#0B5CB3")),
    (1024, "闪电驱动大师", "9.6.1", ["driver", "essentials"], "自动识别硬件，一键安装与更新显卡、声卡、网卡驱动", "ico", 28 * MB + 4000, 27654310, "2024-11-08", True, ("#009E8C", "#006B5E")),
    (1025, "硬件检测", "6.81", ["driver"], "查看 CPU、主板、内存、硬盘详细参数与温度", "png", 11 * MB + 1, 9981234, "2024-09-14", True, ("#00B3A1", "#007D70")),
    (1026, "万能网卡驱动", "2024.10", ["driver"], "离线安装网卡驱动，重装系统后也能立刻上网", None, 412 * MB + 3, 1580042, "2024-10-20", False, ("#0A8F7F", "#06574D")),
    (1027, "远程桌面助手", "15.3.7", ["remote"], "跨网络远程控制电脑，文件互传与多屏查看", "ico", 52 * MB + 700, 21430876, "2024-11-22", True, ("#5B4DFF", "#3A2DC7")),
    (1028, "投屏大师", "4.0.3", ["remote", "media"], "手机画面无线投到电脑，会议演示与直播都方便", "png", 66 * MB + 6, 3398120, "2024-08-30", True, ("#7A5CFF", "#4C33CC")),
    (1029, "时光备份", "8.2", ["backup"], "整盘与分区备份，定时增量备份，误删文件轻松恢复", "ico", 105 * MB + 77, 4120311, "2024-10-24", True, ("#C8783C", "#93501D")),
    (1030, "数据恢复专家", "5.1.4", ["backup"], "恢复误删、误格式化和分区丢失的照片与文档", "png", 23 * MB + 9, 6890221, "2024-09-02", True, ("#D9822B", "#A85A10")),
    (1031, "云盘同步", "7.40.0", ["backup", "office"], "文件自动同步到云端，多人共享文件夹与历史版本", None, 143 * MB + 350, 18204477, "2024-11-27", True, ("#3DA5F4", "#1A74C2")),
    (1032, "游戏加速器", "5.0.12", ["games"], "智能选择线路，降低延迟与掉线，支持上千款网游", "ico", 71 * MB + 1234, 15998302, "2024-11-29", True, ("#9664DC", "#6737AD")),
    (1033, "对战平台", "3.8", ["games"], "经典局域网游戏联机对战，天梯排名与赛事直播", "png", 157 * MB + 44, 8211056, "2024-07-07", True, ("#B04FE0", "#7A22AB")),
    (1034, "棋牌大厅", "2.6.9", ["games"], "象棋、围棋、斗地主与麻将，好友约局随时开", "missing", 96 * MB + 2, 2903114, "2024-06-16", True, ("#E0475B", "#A8192C")),
    (1035, "光影看图", "4.7.1", ["photo", "essentials"], "秒开大图与 RAW 照片，幻灯片浏览和快速批注", "ico", 21 * MB + 808, 17765400, "2024-11-14", True, ("#2AA0C8", "#136F91")),
    (1036, "照片修复", "1.9", ["photo", "ai"], "老照片修复上色、模糊变清晰，人像一键美化", "png", 188 * MB + 60, 2450087, "2024-10-06", True, ("#38B6E0", "#1780A8")),
    (1037, "彩虹壁纸", "3.3.2", ["photo"], "海量高清动态壁纸，按时间与天气自动切换", None, 39 * MB + 390, 5012377, "2024-05-25", False, ("#FF6FA8", "#D93B7C")),
    (1038, "彩虹剪辑", "12.5.0", ["video", "essentials"], "多轨道剪辑、海量特效与字幕模板，新手也能做大片", "ico", 498 * MB + 4096, 26780310, "2024-12-03", True, ("#EB6946", "#B8401F")),
    (1039, "录屏专家", "6.2.1", ["video"], "高清录制屏幕与摄像头，游戏录制不掉帧", "png", 47 * MB + 47, 7211450, "2024-09-19", True, ("#F07C4A", "#BF5223")),
    (1040, "直播伴侣", "2.15", ["video", "media"], "一站式开播工具，多平台推流与弹幕互动", "png", 212 * MB + 12, 3098111, "2024-11-09", True, ("#FF5A5F", "#CC2A30")),
    (1041, "智能写作助手", "1.6.0", ["ai", "office"], "AI 续写、润色与总结，周报和邮件几秒写好", "ico", 81 * MB + 17, 4590022, "2024-11-25", True, ("#00A87D", "#007557")),
    (1042, "AI 对话", "0.9.3 preview", ["ai"], "本地与云端大模型对话，代码解释与资料问答", "png", 264 * MB + 5, 1893410, "2024-12-04", True, ("#10A37F", "#0B6E56")),
    (1043, "灵感画图", "5.2", ["design"], "简单易用的绘图软件，手绘板压感与图层支持", "ico", 129 * MB + 70, 3365008, "2024-08-21", True, ("#E664AA", "#B33479")),
    (1044, "图标设计师", "2.1.7", ["design"], "制作 ICO 与 PNG 图标，多尺寸一次导出", None, 15 * MB + 8, 402117, "2024-02-14", True, ("#F279C1", "#BF4690")),
    (1045, "平面设计工坊", "2023 版", ["design", "photo"], "海报、名片与电商主图在线模板，拖拽完成设计", "png", 342 * MB + 990, 2204553, "2024-10-31", True, ("#C254E0", "#8B26AD")),
]


def millis(day):
    d = datetime.datetime.strptime(day, "%Y-%m-%d").replace(hour=8, tzinfo=datetime.timezone.utc)
    return int(d.timestamp() * 1000)


def package_of(app_id):
    folder = os.path.join(HERE, "packages", str(app_id))
    if not os.path.isdir(folder):
        return None
    files = sorted(f for f in os.listdir(folder) if os.path.isfile(os.path.join(folder, f)))
    if not files:
        return None
    path = os.path.join(folder, files[0])
    with open(path, "rb") as f:
        data = f.read()
    return len(data), hashlib.md5(data).hexdigest()


def icon_path(app_id, kind):
    if kind is None:
        return ""
    ext = "ico" if kind == "ico" else "png"
    return "/icons/app-%d.%s" % (app_id, ext)


def bootstrap():
    by_category = {c[0]: str(i + 1) for i, c in enumerate(CATEGORIES)}
    apps = []
    for (app_id, name, version, cats, description, kind, size, downloads, day, has_package, _) in APPS:
        md5 = hashlib.md5(("kelvo-demo-%d-%s" % (app_id, version)).encode("utf-8")).hexdigest()
        package = package_of(app_id)
        if package:
            size, md5 = package
        apps.append({
            "id": app_id,
            "name": name,
            "version": version,
            "categoryIds": [by_category[c] for c in cats],
            "description": description,
            "icon": icon_path(app_id, kind),
            "packageSize": size,
            "md5": md5 if has_package else "",
            "hasPackage": has_package,
            "downloads": downloads,
            "updatedAt": millis(day),
        })
    return {
        "code": 0,
        "message": "ok",
        "data": {
            "categories": [{"id": by_category[c[0]], "name": c[1]} for c in CATEGORIES],
            "apps": apps,
        },
    }


def glyph_of(name):
    for ch in name:
        if ch.strip():
            return ch.upper()
    return "?"


def render_icon(tmp, app_id, name, colours, size):
    """A rounded square with a diagonal gradient and the name's first character in white."""
    out = os.path.join(tmp, "%d-%d.png" % (app_id, size))
    radius = size * 22 // 100
    inset = max(1, size // 32)
    subprocess.run([
        "convert", "-size", "%dx%d" % (size, size), "-define", "gradient:angle=135", "gradient:%s-%s" % colours,
        "(", "-size", "%dx%d" % (size, size), "xc:black", "-fill", "white", "-draw",
        "roundrectangle %d,%d %d,%d %d,%d" % (inset, inset, size - 1 - inset, size - 1 - inset, radius, radius), ")",
        "-alpha", "off", "-compose", "CopyOpacity", "-composite", "-compose", "Over",
        "-font", FONT, "-fill", "white", "-pointsize", str(size * 58 // 100), "-gravity", "center",
        "-annotate", "+0+%d" % (-size // 40), glyph_of(name),
        "-depth", "8", "-define", "png:exclude-chunks=date,time", "-strip", out,
    ], check=True)
    return out


def write_icons():
    if not shutil.which("convert"):
        sys.exit("ImageMagick's convert is needed for the icons (apt-get install imagemagick)")
    icons = os.path.join(HERE, "icons")
    os.makedirs(icons, exist_ok=True)
    for old in os.listdir(icons):
        os.remove(os.path.join(icons, old))
    with tempfile.TemporaryDirectory() as tmp:
        for (app_id, name, _, _, _, kind, _, _, _, _, colours) in APPS:
            if kind == "png":
                src = render_icon(tmp, app_id, name, colours, 128)
                shutil.copyfile(src, os.path.join(icons, "app-%d.png" % app_id))
            elif kind == "ico":
                # Each size drawn on its own so small ones stay crisp; 256 is stored as PNG.
                sizes = [render_icon(tmp, app_id, name, colours, s) for s in (16, 24, 32, 48, 64, 256)]
                subprocess.run(["convert"] + sizes + [os.path.join(icons, "app-%d.ico" % app_id)], check=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--no-icons", action="store_true", help="write bootstrap.json only")
    args = ap.parse_args()
    text = json.dumps(bootstrap(), ensure_ascii=False, indent=1) + "\n"
    with open(os.path.join(HERE, "bootstrap.json"), "w", encoding="utf-8") as f:
        f.write(text)
    if not args.no_icons:
        write_icons()


if __name__ == "__main__":
    main()
