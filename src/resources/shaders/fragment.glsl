#version 330 core

in vec2 uv;

uniform sampler2D texSampler0;
uniform sampler2D texSampler1;
uniform sampler2D texSampler2;
uniform bool solidColor;
uniform vec4 solidColorRGB;
uniform bool linear;
uniform bool yuv;
uniform bool rec709;
uniform float alpha;

out vec4 color;

void main()
{
    if (solidColor)
    {
        color = vec4(solidColorRGB.rgb, alpha);
    }
    else if (linear)
    {
        color = vec4(pow(texture(texSampler0, uv).rgb, vec3(1.0 / 2.2)), 1.0);
    }
    else if (yuv)
    {
        // Limited-range YUV: Y in 16..235, U and V in 16..240.
        float y = texture(texSampler0, uv).r;
        float u = texture(texSampler1, uv).r - 0.5;
        float v = texture(texSampler2, uv).r - 0.5;
        y = (y - 16.0 / 255.0) * 255.0 / (235.0 - 16.0);
        float s = 255.0 / (240.0 - 16.0);
        float rv;
        float gu;
        float gv;
        float bu;
        if (rec709)
        {
            rv = 1.5748 * s;
            gu = -0.1873 * s;
            gv = -0.4681 * s;
            bu = 1.8556 * s;
        }
        else
        {
            rv = 1.403 * s;
            gu = -0.344 * s;
            gv = -0.714 * s;
            bu = 1.770 * s;
        }
        color = vec4(y + rv * v, y + gu * u + gv * v, y + bu * u, alpha);
    }
    else
    {
        vec4 texel = texture(texSampler0, uv);
        color = vec4(texel.rgb, texel.a * alpha);
    }
}
