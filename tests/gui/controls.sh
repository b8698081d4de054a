# Where the window's controls are, in window pixels, for whoever drives the
# window with xdotool (sourced by window-lib.sh and scripts/run). The window
# keeps its layout in twips (app/FrmMultiBuf.cpp, twips(left, top, width,
# height)) and makes pixels of them by integer division by 15; a control in a
# frame is placed from the frame's corner. The table below copies those
# numbers, so a control that moves there moves here by the same edit, and the
# pixels are worked out as the window works them out.

declare -gA control_twips=(
    [Frame1]="- 8280 90 2445 960"
    [Frame2]="- 3510 135 2265 870"
    [Frame3]="- 5985 45 2040 1005"
    [cmdStart]="- 2970 6570 1170 330"
    [cmdStop]="- 4545 6570 1170 330"
    [cmdExit]="- 6165 6570 1170 330"
    [CmdSave]="Frame1 1125 495 1170 330"
    [txtSampFreq]="Frame2 1125 315 780 285"
    [txtPicChn]="Frame3 1215 225 375 285"
    [txtXNum]="Frame3 900 630 690 270"
    [UpDownChn]="Frame3 1620 135 240 420"
    [UpDownXNum]="Frame3 1620 540 240 420"
)

# Prints "left top width height" of a control in window pixels.
control_rect() {
    local parent left top width height px py
    read -r parent left top width height <<<"${control_twips[$1]:?no control $1 in controls.sh}"
    px=0 py=0
    if [ "$parent" != - ]; then
        read -r px py _ _ < <(control_rect "$parent")
    fi
    echo "$((px + left / 15)) $((py + top / 15)) $((width / 15)) $((height / 15))"
}

# Prints "x y" where a person clicks the control: its centre, or for an
# up-down control's arrows ("up", "down") the middle of its upper or lower half.
control_centre() {
    local x y w h
    read -r x y w h < <(control_rect "$1")
    case "${2:-}" in
    up) echo "$((x + w / 2)) $((y + h / 4))" ;;
    down) echo "$((x + w / 2)) $((y + 3 * h / 4))" ;;
    *) echo "$((x + w / 2)) $((y + h / 2))" ;;
    esac
}

# Prints the control's area as ImageMagick's crop geometry, WxH+X+Y.
control_area() {
    local x y w h
    read -r x y w h < <(control_rect "$1")
    echo "${w}x${h}+${x}+${y}"
}

# Presses the left button at window pixels x y of $window.
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }

# The points the scripts click, as "x y" arrays: click "${cmdStart[@]}".
read -r -a cmdStart < <(control_centre cmdStart)
read -r -a cmdStop < <(control_centre cmdStop)
read -r -a cmdExit < <(control_centre cmdExit)
read -r -a CmdSave < <(control_centre CmdSave)
read -r -a txtSampFreq < <(control_centre txtSampFreq)
read -r -a UpDownChnUp < <(control_centre UpDownChn up)
read -r -a UpDownChnDown < <(control_centre UpDownChn down)
read -r -a UpDownXNumUp < <(control_centre UpDownXNum up)
read -r -a UpDownXNumDown < <(control_centre UpDownXNum down)
# The areas whose look the tests compare before and after a click.
txtPicChnArea="$(control_area txtPicChn)"
txtXNumArea="$(control_area txtXNum)"
